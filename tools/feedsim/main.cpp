// velline-feedsim: a local stand-in for the chart feed and the logo service.
#include "clock/clock.h"
#include "feedsim/feedsimulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velline-feedsim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Serves a simulated chart feed, its streamer and logos on 127.0.0.1.\n"
                       "Point Velline at it with VELLINE_CHART_FEED_URL=http://127.0.0.1:PORT, "
                       "VELLINE_STREAM_URL=ws://127.0.0.1:PORT/?version=2 "
                       "and VELLINE_LOGO_URL=http://127.0.0.1:PORT/image-stock/."));
    parser.addHelpOption();
    QCommandLineOption portOption(
        QStringList{QStringLiteral("p"), QStringLiteral("port")},
        QStringLiteral("Port to listen on (default %1, 0 for any free port).")
            .arg(velline::FeedSimulator::defaultPort),
        QStringLiteral("N"), QString::number(velline::FeedSimulator::defaultPort));
    parser.addOption(portOption);
    QCommandLineOption controlOption(
        QStringLiteral("control"),
        QStringLiteral("Accept fault switches from other processes under /feedsim/ (see the "
                       "README: fault, clear, stats)."));
    parser.addOption(controlOption);
    QCommandLineOption stillOption(
        QStringLiteral("still"),
        QStringLiteral("A still market: every answer shows the market as it stood when the "
                       "simulator started, so no price, volume or bar ever changes."));
    parser.addOption(stillOption);
    QCommandLineOption noStreamOption(
        QStringLiteral("no-stream"),
        QStringLiteral("No streamer: WebSocket upgrade requests get a 404, as on a feed "
                       "without one."));
    parser.addOption(noStreamOption);
    parser.process(app);

    QTextStream err(stderr);
    bool ok = false;
    const uint port = parser.value(portOption).toUInt(&ok);
    if (!ok || port > 65535) {
        err << "velline-feedsim: --port needs a number from 0 to 65535\n";
        return 64;
    }
    velline::FeedSimulator simulator(velline::Clock::system());
    simulator.setControlEnabled(parser.isSet(controlOption));
    simulator.setStreamEnabled(!parser.isSet(noStreamOption));
    if (parser.isSet(stillOption))
        simulator.setFrozenAt(velline::Clock::system()->now());
    if (!simulator.listen(static_cast<quint16>(port))) {
        err << "velline-feedsim: cannot listen on 127.0.0.1:" << port << ": "
            << simulator.errorString() << "\n";
        return 1;
    }
    QTextStream out(stdout);
    out << "velline-feedsim listening on " << simulator.baseUrl().toString() << "\n";
    if (simulator.streamEnabled())
        out << "velline-feedsim streaming on " << simulator.streamUrl().toString() << "\n";
    out.flush();
    return app.exec();
}
