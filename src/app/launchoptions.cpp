#include "app/launchoptions.h"

#include "desktop/buildinfo.h"
#include "desktop/singleinstance.h"
#include "notchlayer/notchpanel.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QSocketNotifier>
#include <QTextStream>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace velline {

namespace {

const char* const kDescription =
    "A stock ticker in a small black notch at the top centre of the screen.\n"
    "It rotates through your symbols every ten seconds and expands into a card when the\n"
    "pointer rests on it. Settings live in $XDG_CONFIG_HOME/Velline/Velline.ini.";

// Written by the signal handler, read on the main thread.
int signalPipe[2] = {-1, -1};

extern "C" void onTerminationSignal(int) {
    const char byte = 1;
    // Nothing to do about a full pipe: a quit is already on its way.
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[0], &byte, 1);
}

} // namespace

LaunchOptions LaunchOptions::parse(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kDescription));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version(QStringList{QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the version and exit."));
    const QCommandLineOption demo(
        QStringLiteral("demo"),
        QStringLiteral("Run against a simulated market served inside the program: moving "
                       "prices, spikes now and then, logos. Needs no network and leaves your "
                       "own symbols, holdings and alerts untouched."));
    const QList<std::pair<QCommandLineOption, QString>> actions{
        {QCommandLineOption(QStringLiteral("quick-add"),
                            QStringLiteral("Open the quick-add panel of the running Velline (or "
                                           "close it when open); starts Velline if needed.")),
         QStringLiteral("quick-add")},
        {QCommandLineOption(QStringLiteral("settings"),
                            QStringLiteral("Open the settings window of the running Velline; "
                                           "starts Velline if needed.")),
         QStringLiteral("settings")},
        {QCommandLineOption(QStringLiteral("refresh"),
                            QStringLiteral("Refresh the quotes of the running Velline now; "
                                           "starts Velline if needed.")),
         QStringLiteral("refresh")},
        {QCommandLineOption(QStringLiteral("quit"),
                            QStringLiteral("Quit the running Velline (nothing to do when none "
                                           "runs).")),
         QStringLiteral("quit")},
    };
    parser.addOption(help);
    parser.addOption(version);
    parser.addOption(demo);
    for (const auto& action : actions)
        parser.addOption(action.first);
    const QCommandLineOption stats(
        QStringLiteral("stats"),
        QStringLiteral("Count the frames drawn and print them with the time of the first drawn "
                       "notch on standard output, on SIGUSR1 and at exit (for measuring)."));
    parser.addOption(stats);

    LaunchOptions options;
    const QString program = QStringLiteral("velline");
    if (!parser.parse(arguments)) {
        options.exitCode = 64;
        options.message =
            QStringLiteral("%1: %2\nTry '%1 --help'.\n").arg(program, parser.errorText());
        return options;
    }
    if (!parser.positionalArguments().isEmpty()) {
        options.exitCode = 64;
        options.message = QStringLiteral("%1: unexpected argument '%2'\nTry '%1 --help'.\n")
                              .arg(program, parser.positionalArguments().first());
        return options;
    }
    if (parser.isSet(help)) {
        options.exitCode = 0;
        QString text = parser.helpText();
        // The parser names the program after the running executable (or not at all before
        // the application object exists).
        const qsizetype lineEnd = text.indexOf(QLatin1Char('\n'));
        text.replace(0, lineEnd, QStringLiteral("Usage: %1 [options]").arg(program));
        options.message = text;
        return options;
    }
    if (parser.isSet(version)) {
        options.exitCode = 0;
        options.message = QStringLiteral("%1 %2\n").arg(program, QStringLiteral(VELLINE_VERSION));
        return options;
    }
    options.demo = parser.isSet(demo);
    QStringList chosen;
    for (const auto& action : actions) {
        if (parser.isSet(action.first))
            chosen.append(action.second);
    }
    if (chosen.size() > 1) {
        options.exitCode = 64;
        options.message = QStringLiteral("%1: --%2 and --%3 cannot be combined\nTry '%1 --help'.\n")
                              .arg(program, chosen.at(0), chosen.at(1));
        return options;
    }
    options.action = chosen.value(0);
    options.stats = parser.isSet(stats);
    return options;
}

std::optional<int> settleInstance(const LaunchOptions& options, SingleInstance& instance,
                                  QTextStream& out, QTextStream& err) {
    const bool quit = options.action == QLatin1String("quit");
    if (options.demo) {
        // A demo runs beside the real Velline and is never reached over the bus.
        return quit ? std::optional<int>(0) : std::nullopt;
    }
    switch (instance.claim()) {
    case SingleInstance::Claim::owned:
        // No other Velline ran: this one starts (and performs the action once started); a quit
        // has nothing to end.
        return quit ? std::optional<int>(0) : std::nullopt;
    case SingleInstance::Claim::taken: {
        if (options.action.isEmpty()) {
            out << "Velline is already running\n";
            return 0;
        }
        QString error;
        if (!SingleInstance::activateAction(instance.bus(), options.action, &error)) {
            err << "velline: " << error << "\n";
            return 1;
        }
        return 0;
    }
    case SingleInstance::Claim::noBus:
        break;
    }
    if (!options.action.isEmpty()) {
        err << "velline: --" << options.action
            << " needs the session bus to reach Velline, and there is none\n";
        return 1;
    }
    err << "velline: no session bus; starting without the one-instance guard\n";
    return std::nullopt;
}

void prepareProcess() {
    NotchPanel::preferX11Platform();
    NotchPanel::selectDefaultGraphicsApi();
    NotchPanel::preferPlainImageUploads();
    NotchPanel::preferPromptFrames();
}

void configureApplication(QApplication& app) {
    QApplication::setApplicationName(QStringLiteral("velline"));
    // No application display name: Qt would append it to every window title ("Velline Settings —
    // Velline").
    QApplication::setOrganizationName(QStringLiteral("Velline"));
    QApplication::setApplicationVersion(QStringLiteral(VELLINE_VERSION));
    // Ties the windows to the installed desktop entry (its name, icon and actions).
    QApplication::setDesktopFileName(QLatin1String(buildinfo::kAppId));
    app.setQuitOnLastWindowClosed(false);
}

void quitOnTerminationSignals() {
    if (signalPipe[0] >= 0)
        return;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, qApp, [] {
        char byte;
        [[maybe_unused]] const ssize_t read = ::read(signalPipe[1], &byte, 1);
        QCoreApplication::quit();
    });
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

} // namespace velline
