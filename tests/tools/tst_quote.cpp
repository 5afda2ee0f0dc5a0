#include "clock/manualclock.h"
#include "cmd_quotestream.h"
#include "ctlrun.h"
#include "feedsim/feedsimulator.h"

#include <QTest>

using namespace velline;

class TestQuoteCommand : public QObject {
    Q_OBJECT
    ManualClock clock{1'750'060'000.0};
    FeedSimulator sim{&clock};

    CtlRun quote(const QStringList& args) { return runCtl(QStringList{"quote"} + args); }

    // Stream printers on the simulator's streamer, in virtual time: output, errors, exit codes.
    QString printed, problems;
    QTextStream outStream{&printed}, errStream{&problems};
    QList<int> finished;
    std::unique_ptr<vellinectl::StreamQuotePrinter> printer(const QStringList& symbols) {
        auto p = std::make_unique<vellinectl::StreamQuotePrinter>(sim.streamUrl(), symbols, &clock,
                                                                  outStream, errStream);
        connect(p.get(), &vellinectl::StreamQuotePrinter::finished, this,
                [this](int code) { finished << code; });
        return p;
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(sim.listen());
        qputenv("VELLINE_CHART_FEED_URL", sim.baseUrl().toEncoded());
    }

    void printsOneOrderedLinePerQuoteAndFailuresOnStderr() {
        const QByteArray fix =
            R"({"chart":{"result":[{"meta":{"regularMarketPrice":187.5,)"
            R"("previousClose":185},"timestamp":[1750000000,1750000300],)"
            R"("indicators":{"quote":[{"close":[187.25,null],"volume":[1200,5]}]}}]}})";
        sim.script("FIX", ScriptedAnswer::fixedAnswer(200, fix));
        const CtlRun r = quote({"FIX", "NOPEXXX", "^GSPC"});
        QCOMPARE(r.rc, vellinectl::ExitPartial);
        QCOMPARE(r.lines[0], QStringLiteral(R"({"symbol":"FIX","price":187.5,"previousClose":185,)"
                                            R"("volume":0,"avgVolume":0,)"
                                            R"("intraday":[[1750000000,187.25,1200]]})"));
        QVERIFY(r.lines.value(1).startsWith(QLatin1String(R"({"symbol":"^GSPC","price":)")));
        QCOMPARE(
            r.errors,
            QStringList{"NOPEXXX: badResponse HTTP 404: No data found, symbol may be delisted"});

        QCOMPARE(quote({"AAPL", "MSFT"}).rc, vellinectl::ExitOk);
    }

    // Refused before anything is requested, the reason on stderr.
    void wrongArgumentsAndStreamAddresses_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("url");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("error");
        const QByteArray ws = "ws://127.0.0.1:9/";
        const int usage = vellinectl::ExitUsage, failed = vellinectl::ExitFailed;
        QTest::newRow("nothing") << QStringList{} << ws << usage << "vellinectl quote: ";
        QTest::newRow("stream, no symbol") << QStringList{"--stream"} << ws << usage << "no symbol";
        QTest::newRow("no address")
            << QStringList{"--stream", "A"} << QByteArray() << failed << "no stream";
        QTest::newRow("not ws") << QStringList{"--stream", "A"} << QByteArray("http://h/") << failed
                                << "not a ws:// or wss:// address";
    }
    void wrongArgumentsAndStreamAddresses() {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, url);
        QFETCH(int, code);
        QFETCH(QString, error);
        sim.clearRequestLog();
        qputenv("VELLINE_STREAM_URL", url);
        const CtlRun r = quote(args);
        QCOMPARE(r.rc, code);
        QVERIFY(r.lines.isEmpty() && sim.requestLog().isEmpty());
        QVERIFY2(r.errors.first().contains(error), qPrintable(r.errors.first()));
    }

    void streamTickLinesHaveAFixedKeyOrder() {
        StreamTick t{
            "AAPL", 232.35, 1733493600000, -1.17, -0.5, 41234567, 233.1, 230.05, 0, 0, 1, 8, -1, {},
            {},     {}};
        QCOMPARE(
            vellinectl::streamTickLine(t),
            QByteArray("{\"symbol\":\"AAPL\",\"price\":232.35,\"time\":\"2024-12-06T14:00:00Z\","
                       "\"timeMs\":1733493600000,\"change\":-1.17,\"changePercent\":-0.5,"
                       "\"dayVolume\":41234567,\"dayHigh\":233.1,\"dayLow\":230.05,"
                       "\"marketHours\":1,\"quoteType\":8}"));
        t.timeMs += 250; // milliseconds only where there are some
        QVERIFY(vellinectl::streamTickLine(t).contains("\"time\":\"2024-12-06T14:00:00.250Z\""));
    }

    void streamPrintsEachRecordAndResubscribesUntilTheTimeIsUp() {
        const auto quotes = printer({"AAPL", "ES=F"});
        const int before = sim.streamer().messagesSent();
        quotes->start(20);
        QTRY_COMPARE(printed.count('\n'), 2); // the two snapshots
        for (int i = 0; i < 19; ++i)
            clock.advance(1);
        QTRY_COMPARE(sim.streamer().receivedFrames(),
                     QList<QByteArray>(2, "{\"subscribe\":[\"AAPL\",\"ES=F\"]}"));
        QTRY_COMPARE(printed.count('\n'), sim.streamer().messagesSent() - before);
        QVERIFY(finished.isEmpty());
        clock.advance(1);
        QCOMPARE(finished, QList<int>{vellinectl::ExitOk});
    }

    void streamEndsWithAFailureWhenLost() {
        const auto lost = printer({"AAPL"});
        const int opened = sim.streamer().connectionsOpened();
        lost->start(std::nullopt);
        QTRY_COMPARE(sim.streamer().connectionsOpened(), opened + 1);
        sim.streamer().closeAll();
        QTRY_COMPARE(finished, (QList<int>{vellinectl::ExitOk, vellinectl::ExitFailed}));
        QVERIFY2(problems.contains("the stream closed"), qPrintable(problems));
    }
};

QTEST_GUILESS_MAIN(TestQuoteCommand)
#include "tst_quote.moc"
