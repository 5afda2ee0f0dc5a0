#include "clock/manualclock.h"
#include "commands.h"
#include "feedsim/feedsimulator.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace velline;

namespace {
struct Run {
    int code = -1;
    QString out;
    QString err;
};

Run quote(const QStringList& args) {
    Run r;
    QTextStream out(&r.out);
    QTextStream err(&r.err);
    vellinectl::Io io{out, err};
    r.code = vellinectl::dispatch(QStringList{QStringLiteral("quote")} + args, io);
    return r;
}
} // namespace

class TestQuoteCommand : public QObject {
    Q_OBJECT
    ManualClock clock{1'750'060'000.0};
    FeedSimulator sim{&clock};

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(sim.listen());
        // The command uses the process-wide client, which reads this once.
        qputenv("VELLINE_CHART_FEED_URL", sim.baseUrl().toEncoded());
    }

    void printsOneOrderedLinePerQuote() {
        sim.script(
            QStringLiteral("FIX"),
            ScriptedAnswer::fixedAnswer(
                200, R"({"chart":{"result":[{"meta":{"symbol":"FIX","regularMarketPrice":)"
                     R"(187.5,"previousClose":185},"timestamp":[1750000000,1750000300],)"
                     R"("indicators":{"quote":[{"close":[187.25,null],"volume":[1200,5]}]}}]}})"));
        const Run r = quote({QStringLiteral("FIX"), QStringLiteral("^GSPC")});
        QCOMPARE(r.code, vellinectl::ExitOk);
        QCOMPARE(r.err, QString());
        const QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[0], QStringLiteral(R"({"symbol":"FIX","price":187.5,"previousClose":185,)"
                                          R"("volume":0,"avgVolume":0,)"
                                          R"("intraday":[[1750000000,187.25,1200]]})"));
        const QJsonObject second = QJsonDocument::fromJson(lines[1].toUtf8()).object();
        QCOMPARE(second.value(QLatin1String("symbol")).toString(), QStringLiteral("^GSPC"));
        QVERIFY(second.value(QLatin1String("intraday")).toArray().size() > 70);
        QCOMPARE(sim.requestLog().at(1).path, QByteArray("/v8/finance/chart/%5EGSPC"));
    }

    void reportsFailuresOnStderrAndExitsTwo() {
        sim.script(QStringLiteral("BROKEN"), ScriptedAnswer::brokenBody());
        sim.clearRequestLog();
        const Run r =
            quote({QStringLiteral("NOPEXXX"), QStringLiteral("AAPL"), QStringLiteral("BROKEN")});
        QCOMPARE(r.code, vellinectl::ExitPartial);
        QCOMPARE(r.out.count(QLatin1Char('\n')), 1);
        QVERIFY(r.out.startsWith(QLatin1String(R"({"symbol":"AAPL",)")));
        const QStringList errors = r.err.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(errors.size(), 2);
        QCOMPARE(
            errors[0],
            QStringLiteral("NOPEXXX: badResponse HTTP 404: No data found, symbol may be delisted"));
        QVERIFY2(errors[1].startsWith(QLatin1String("BROKEN: decoding ")), qPrintable(errors[1]));
        // In the order given, one after another.
        const QList<LoggedRequest> log = sim.requestLog();
        QCOMPARE(log.size(), 3);
        QCOMPARE(log[0].symbol, QStringLiteral("NOPEXXX"));
        QCOMPARE(log[2].symbol, QStringLiteral("BROKEN"));
    }

    void wrongArgumentsAreUsageErrors() {
        sim.clearRequestLog();
        for (const QStringList& args :
             {QStringList{}, QStringList{QStringLiteral("AAPL"), QStringLiteral("--json")},
              QStringList{QStringLiteral(" ")}}) {
            const Run r = quote(args);
            QCOMPARE(r.code, vellinectl::ExitUsage);
            QVERIFY(r.out.isEmpty());
            QVERIFY(r.err.startsWith(QLatin1String("vellinectl quote: ")));
        }
        QVERIFY(sim.requestLog().isEmpty());
        const Run help = quote({QStringLiteral("--help")});
        QCOMPARE(help.code, vellinectl::ExitOk);
        QVERIFY(help.out.contains(QLatin1String("usage: vellinectl quote SYMBOL...")));
    }
};

QTEST_GUILESS_MAIN(TestQuoteCommand)
#include "tst_quote.moc"
