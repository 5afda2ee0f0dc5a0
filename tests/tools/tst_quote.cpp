#include "clock/manualclock.h"
#include "commands.h"
#include "feedsim/feedsimulator.h"

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
};

QTEST_GUILESS_MAIN(TestQuoteCommand)
#include "tst_quote.moc"
