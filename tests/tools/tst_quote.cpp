#include "clock/manualclock.h"
#include "cmd_quotestream.h"
#include "commands.h"
#include "feedsim/feedsimulator.h"

#include <QTcpServer>
#include <QTest>

using namespace velline;

class TestQuoteCommand : public QObject {
    Q_OBJECT
    ManualClock clock{1'750'060'000.0};
    FeedSimulator sim{&clock};

    struct Run {
        int code = -1;
        QStringList out, err;
    };
    Run quote(const QStringList& args) {
        QString out, err;
        QTextStream outStream(&out), errStream(&err);
        vellinectl::Io io{outStream, errStream};
        const int code = vellinectl::dispatch(QStringList{QStringLiteral("quote")} + args, io);
        return {code, out.split('\n', Qt::SkipEmptyParts), err.split('\n', Qt::SkipEmptyParts)};
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
        const Run r = quote({"FIX", "NOPEXXX", "^GSPC", "BROKEN"});
        QCOMPARE(r.code, vellinectl::ExitPartial);
        QCOMPARE(r.out.size(), 2);
        QCOMPARE(r.out[0], QStringLiteral(R"({"symbol":"FIX","price":187.5,"previousClose":185,)"
                                          R"("volume":0,"avgVolume":0,)"
                                          R"("intraday":[[1750000000,187.25,1200]]})"));
        QVERIFY(r.out[1].startsWith(QLatin1String(R"({"symbol":"^GSPC","price":)")));
        QCOMPARE(r.err.size(), 2);
        QCOMPARE(r.err[0], "NOPEXXX: badResponse HTTP 404: No data found, symbol may be delisted");
        QVERIFY2(r.err[1].startsWith(QLatin1String("BROKEN: decoding ")), qPrintable(r.err[1]));
        // In the order given, one after another.
        QStringList requested;
        for (const LoggedRequest& request : sim.requestLog())
            requested << request.symbol;
        QCOMPARE(requested, (QStringList{"FIX", "NOPEXXX", "^GSPC", "BROKEN"}));

        QCOMPARE(quote({"AAPL", "MSFT"}).code, vellinectl::ExitOk);
    }

    void wrongArgumentsAreUsageErrors() {
        sim.clearRequestLog();
        for (const QStringList& args : {QStringList{}, {"AAPL", "--json"}, {" "}}) {
            const Run r = quote(args);
            QCOMPARE(r.code, vellinectl::ExitUsage);
            QVERIFY(r.out.isEmpty());
            QVERIFY(r.err.first().startsWith(QLatin1String("vellinectl quote: ")));
        }
        QVERIFY(sim.requestLog().isEmpty());
        const Run help = quote({"--help"});
        QCOMPARE(help.code, vellinectl::ExitOk);
        QCOMPARE(help.out.first(), QStringLiteral("usage: vellinectl quote SYMBOL..."));
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
        const Run r = quote(args);
        qunsetenv("VELLINE_STREAM_URL");
        QCOMPARE(r.code, code);
        QVERIFY(r.out.isEmpty());
        QVERIFY2(r.err.first().contains(error), qPrintable(r.err.first()));
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
        sim.setFrozenAt(std::nullopt);
        QString out, err;
        QTextStream outStream(&out), errStream(&err);
        vellinectl::StreamQuotePrinter printer(sim.streamUrl(), {"AAPL", "ES=F"}, &clock, outStream,
                                               errStream);
        QList<int> finished;
        connect(&printer, &vellinectl::StreamQuotePrinter::finished,
                [&](int code) { finished << code; });
        const int before = sim.streamer().messagesSent();
        printer.start(20);
        QTRY_COMPARE(sim.streamer().receivedFrames().size(), 1);
        QTRY_COMPARE(out.count('\n'), 2); // the two snapshots
        for (int i = 0; i < 19; ++i)
            clock.advance(1);
        QTRY_COMPARE(sim.streamer().receivedFrames(),
                     QList<QByteArray>(2, "{\"subscribe\":[\"AAPL\",\"ES=F\"]}"));
        const int sent = sim.streamer().messagesSent() - before;
        QTRY_COMPARE(out.count('\n'), sent);
        QVERIFY(finished.isEmpty());
        clock.advance(1);
        QCOMPARE(finished, QList<int>{vellinectl::ExitOk});
        QVERIFY(err.isEmpty());
        QTRY_COMPARE(sim.streamer().openConnections(), 0);
    }

    void streamEndsWithAFailureWhenLostOrNeverOpened() {
        QString out, err;
        QTextStream outStream(&out), errStream(&err);
        QList<int> finished;
        {
            vellinectl::StreamQuotePrinter lost(sim.streamUrl(), {"AAPL"}, &clock, outStream,
                                                errStream);
            connect(&lost, &vellinectl::StreamQuotePrinter::finished,
                    [&](int code) { finished << code; });
            const int opened = sim.streamer().connectionsOpened();
            lost.start(std::nullopt);
            QTRY_COMPARE(sim.streamer().connectionsOpened(), opened + 1);
            sim.streamer().closeAll();
            QTRY_COMPARE(finished, QList<int>{vellinectl::ExitFailed});
            QVERIFY2(err.contains("the stream closed"), qPrintable(err));
        }
        // A server that takes the connection and never answers the upgrade.
        QTcpServer mute;
        QVERIFY(mute.listen(QHostAddress::LocalHost));
        vellinectl::StreamQuotePrinter never(
            QUrl(QStringLiteral("ws://127.0.0.1:%1/").arg(mute.serverPort())), {"AAPL"}, &clock,
            outStream, errStream);
        connect(&never, &vellinectl::StreamQuotePrinter::finished,
                [&](int code) { finished << code; });
        never.start(60);
        QVERIFY(QTest::qWaitFor([&] { return mute.hasPendingConnections(); }, 5000));
        clock.advance(vellinectl::StreamQuotePrinter::connectSeconds - 0.001);
        QCOMPARE(finished.size(), 1);
        clock.advance(0.001);
        QCOMPARE(finished, (QList<int>{vellinectl::ExitFailed, vellinectl::ExitFailed}));
        QVERIFY2(err.contains("no connection to"), qPrintable(err));
    }
};

QTEST_GUILESS_MAIN(TestQuoteCommand)
#include "tst_quote.moc"
