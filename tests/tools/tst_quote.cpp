#include "clock/manualclock.h"
#include "cmd_quotestream.h"
#include "ctlrun.h"
#include "feedsim/feedsimulator.h"

#include <QTcpServer>
#include <QTest>

using namespace velline;

class TestQuoteCommand : public QObject {
    Q_OBJECT
    ManualClock clock{1'750'060'000.0};
    FeedSimulator sim{&clock};

    CtlRun quote(const QStringList& args) { return runCtl(QStringList{"quote"} + args); }

    // A stream printer writing to `printed` and `problems`, each exit code it finishes with in
    // `finished`.
    QString printed, problems;
    QTextStream outStream{&printed}, errStream{&problems};
    QList<int> finished;
    std::unique_ptr<vellinectl::StreamQuotePrinter> printer(const QUrl& url,
                                                            const QStringList& symbols) {
        auto p = std::make_unique<vellinectl::StreamQuotePrinter>(url, symbols, &clock, outStream,
                                                                  errStream);
        connect(p.get(), &vellinectl::StreamQuotePrinter::finished, this,
                [this](int code) { finished << code; });
        return p;
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(sim.listen());
        // The command uses the process-wide client, which reads this once.
        qputenv("VELLINE_CHART_FEED_URL", sim.baseUrl().toEncoded());
    }

    void printsOneOrderedLinePerQuoteAndFailuresOnStderr() {
        sim.script("FIX", ScriptedAnswer::fixedAnswer(
                              200, R"({"chart":{"result":[{"meta":{"regularMarketPrice":187.5,)"
                                   R"("previousClose":185},"timestamp":[1750000000,1750000300],)"
                                   R"("indicators":{"quote":[{"close":[187.25,null],)"
                                   R"("volume":[1200,5]}]}}]}})"));
        sim.script("BROKEN", ScriptedAnswer::brokenBody());
        const CtlRun r = quote({"FIX", "NOPEXXX", "^GSPC", "BROKEN"});
        QCOMPARE(r.rc, vellinectl::ExitPartial);
        QCOMPARE(r.lines.size(), 2);
        QCOMPARE(r.lines[0], QStringLiteral(R"({"symbol":"FIX","price":187.5,"previousClose":185,)"
                                            R"("volume":0,"avgVolume":0,)"
                                            R"("intraday":[[1750000000,187.25,1200]]})"));
        QVERIFY(r.lines[1].startsWith(QLatin1String(R"({"symbol":"^GSPC","price":)")));
        QCOMPARE(r.errors.size(), 2);
        QCOMPARE(r.errors[0],
                 "NOPEXXX: badResponse HTTP 404: No data found, symbol may be delisted");
        QVERIFY2(r.errors[1].startsWith(QLatin1String("BROKEN: decoding ")),
                 qPrintable(r.errors[1]));
        // In the order given, one after another.
        QStringList requested;
        for (const LoggedRequest& request : sim.requestLog())
            requested << request.symbol;
        QCOMPARE(requested, (QStringList{"FIX", "NOPEXXX", "^GSPC", "BROKEN"}));

        QCOMPARE(quote({"AAPL", "MSFT"}).rc, vellinectl::ExitOk);
    }

    void wrongArgumentsAreUsageErrors() {
        sim.clearRequestLog();
        for (const QStringList& args : {QStringList{}, {"AAPL", "--json"}, {" "}}) {
            const CtlRun r = quote(args);
            QCOMPARE(r.rc, vellinectl::ExitUsage);
            QVERIFY(r.lines.isEmpty());
            QVERIFY(r.errors.first().startsWith(QLatin1String("vellinectl quote: ")));
        }
        QVERIFY(sim.requestLog().isEmpty());
        const CtlRun help = quote({"--help"});
        QCOMPARE(help.rc, vellinectl::ExitOk);
        QCOMPARE(help.lines.first(), QStringLiteral("usage: vellinectl quote SYMBOL..."));
    }

    void streamArgumentsAndAddress_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("url");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("error");
        const QByteArray local = "ws://127.0.0.1:9/";
        QTest::newRow("no symbol") << QStringList{"--stream", "--seconds", "2"} << local
                                   << int(vellinectl::ExitUsage) << "no symbol given";
        QTest::newRow("zero seconds") << QStringList{"--stream", "--seconds=0", "AAPL"} << local
                                      << int(vellinectl::ExitUsage) << "--seconds needs";
        QStringList many{"--stream"};
        for (int i = 0; i < 101; ++i)
            many << QStringLiteral("S%1").arg(i);
        QTest::newRow("101 symbols")
            << many << local << int(vellinectl::ExitUsage) << "at most 100";
        QTest::newRow("empty address") << QStringList{"--stream", "AAPL"} << QByteArray()
                                       << int(vellinectl::ExitFailed) << "no stream";
        QTest::newRow("not a ws address")
            << QStringList{"--stream", "AAPL"} << QByteArray("http://127.0.0.1:9/")
            << int(vellinectl::ExitFailed) << "not a ws:// or wss:// address";
    }
    void streamArgumentsAndAddress() {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, url);
        QFETCH(int, code);
        QFETCH(QString, error);
        qputenv("VELLINE_STREAM_URL", url);
        const CtlRun r = quote(args);
        qunsetenv("VELLINE_STREAM_URL");
        QCOMPARE(r.rc, code);
        QVERIFY(r.lines.isEmpty());
        QVERIFY2(r.errors.first().contains(error), qPrintable(r.errors.first()));
    }

    void streamTickLinesHaveAFixedKeyOrder() {
        StreamTick t;
        t.symbol = "AAPL";
        t.price = 232.35;
        t.timeMs = 1733493600000;
        t.change = -1.17;
        t.changePercent = -0.5;
        t.dayVolume = 41234567;
        t.dayHigh = 233.1;
        t.dayLow = 230.05;
        t.marketHours = 1;
        t.quoteType = 8;
        QCOMPARE(
            vellinectl::streamTickLine(t),
            QByteArray("{\"symbol\":\"AAPL\",\"price\":232.35,\"time\":\"2024-12-06T14:00:00Z\","
                       "\"timeMs\":1733493600000,\"change\":-1.17,\"changePercent\":-0.5,"
                       "\"dayVolume\":41234567,\"dayHigh\":233.1,\"dayLow\":230.05,"
                       "\"marketHours\":1,\"quoteType\":8}"));
        t.timeMs += 250; // milliseconds only where there are some
        QVERIFY(vellinectl::streamTickLine(t).contains("\"time\":\"2024-12-06T14:00:00.250Z\""));
    }

    // Against the simulator's streamer, in virtual time.
    void streamPrintsEachRecordAndResubscribesUntilTheTimeIsUp() {
        const auto quotes = printer(sim.streamUrl(), {"AAPL", "ES=F"});
        const int before = sim.streamer().messagesSent();
        quotes->start(20);
        QTRY_COMPARE(sim.streamer().receivedFrames().size(), 1);
        QTRY_COMPARE(printed.count('\n'), 2); // the two snapshots
        for (int i = 0; i < 19; ++i)
            clock.advance(1);
        QTRY_COMPARE(sim.streamer().receivedFrames(),
                     QList<QByteArray>(2, "{\"subscribe\":[\"AAPL\",\"ES=F\"]}"));
        const int sent = sim.streamer().messagesSent() - before;
        QTRY_COMPARE(printed.count('\n'), sent);
        QVERIFY(finished.isEmpty());
        clock.advance(1);
        QCOMPARE(finished, QList<int>{vellinectl::ExitOk});
        QVERIFY(problems.isEmpty());
        QTRY_COMPARE(sim.streamer().openConnections(), 0);
    }

    void streamEndsWithAFailureWhenLostOrNeverOpened() {
        finished.clear();
        problems.clear();
        const auto lost = printer(sim.streamUrl(), {"AAPL"});
        const int opened = sim.streamer().connectionsOpened();
        lost->start(std::nullopt);
        QTRY_COMPARE(sim.streamer().connectionsOpened(), opened + 1);
        sim.streamer().closeAll();
        QTRY_COMPARE(finished, QList<int>{vellinectl::ExitFailed});
        QVERIFY2(problems.contains("the stream closed"), qPrintable(problems));

        // A server that takes the connection and never answers the upgrade.
        QTcpServer mute;
        QVERIFY(mute.listen(QHostAddress::LocalHost));
        const auto never =
            printer(QUrl(QStringLiteral("ws://127.0.0.1:%1/").arg(mute.serverPort())), {"AAPL"});
        never->start(60);
        QVERIFY(QTest::qWaitFor([&] { return mute.hasPendingConnections(); }, 5000));
        clock.advance(vellinectl::StreamQuotePrinter::connectSeconds - 0.001);
        QCOMPARE(finished.size(), 1);
        clock.advance(0.001);
        QCOMPARE(finished, (QList<int>{vellinectl::ExitFailed, vellinectl::ExitFailed}));
        QVERIFY2(problems.contains("no connection to"), qPrintable(problems));
    }
};

QTEST_GUILESS_MAIN(TestQuoteCommand)
#include "tst_quote.moc"
