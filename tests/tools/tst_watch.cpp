#include "clock/manualclock.h"
#include "cmd_watch.h"
#include "commands.h"
#include "feedsim/feedsimulator.h"
#include "prefs/userpreferences.h"
#include "state/appstate.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace velline;

namespace {
class SilentSource : public QuoteSource {
public:
    void fetchQuotes(const QStringList&, QObject*, std::function<void(QList<Quote>)>) override {}
};

QList<QJsonObject> lines(const QString& text) {
    QList<QJsonObject> out;
    for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        out.append(QJsonDocument::fromJson(line.toUtf8()).object());
    return out;
}
} // namespace

class TestWatch : public QObject {
    Q_OBJECT
    QTemporaryDir m_config; // the "user's" store of this run

private Q_SLOTS:
    void initTestCase() { qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8()); }

    void printsEveryPublishedChangeAsOrderedJsonLines() {
        QTemporaryDir dir;
        QSettings settings(dir.filePath(QStringLiteral("v.conf")), QSettings::IniFormat);
        UserPreferences prefs(&settings);
        SilentSource source;
        ManualClock clock(1000);
        AppState state(&prefs, &source, &clock, {});
        QString text;
        QTextStream out(&text);
        vellinectl::WatchPrinter printer(&state, &clock, out);
        Stock stock;
        stock.symbol = QStringLiteral("AAPL");
        stock.price = 101.5;
        stock.previousClose = 100;
        stock.lastSpikeAt = 990.5;
        state.setStocks({stock});
        state.setActiveSymbol(std::nullopt);
        state.fireAlert({QUuid::createUuid(), "AAPL",
                         AlertEvent::Reason::priceCross(101, PriceAlert::Direction::above),
                         Stock::Direction::up, 1000});
        clock.advance(4);
        QVERIFY2(
            QRegularExpression(
                QStringLiteral(
                    R"(^\{"t":1000,"event":"stocks","symbols":\["AAPL"\],"afterHours":true,)"
                    R"("records":\[\{"symbol":"AAPL","price":101.5,"previousClose":100,)"
                    R"("changePercent":1.5,"percentText":"\+1.50%","lastSpikeAt":990.5\}\]\}\n)"
                    R"(\{"t":1000,"event":"active","symbol":null,"direction":"left"\}\n)"
                    R"(\{"t":1000,"event":"alert","id":"[0-9A-F-]{36}","symbol":"AAPL",)"
                    R"("reason":"priceCross","level":101,"alertDirection":"above","direction":"up"\}\n)"
                    R"(\{"t":1004,"event":"alertCleared"\}\n$)"))
                .match(text)
                .hasMatch(),
            qPrintable(text));
    }

    void printsTheFeedStatusAsItsOwnEvent() {
        QTemporaryDir dir;
        QSettings settings(dir.filePath(QStringLiteral("v.conf")), QSettings::IniFormat);
        UserPreferences prefs(&settings);
        prefs.setTrackedSymbols({"AAPL"});
        struct Held : QuoteSource {
            void fetchQuotes(const QStringList&, QObject*,
                             std::function<void(QList<Quote>)>) override {}
            void fetchBatch(const QStringList&, QObject*,
                            std::function<void(QuoteBatch)> done) override {
                pending = std::move(done);
            }
            std::function<void(QuoteBatch)> pending;
        } source;
        ManualClock clock(2000);
        AppState state(&prefs, &source, &clock, {});
        QString text;
        QTextStream out(&text);
        vellinectl::WatchPrinter printer(&state, &clock, out);
        state.refresh();
        QuoteBatch limited;
        limited.failures.append({"AAPL", QuoteFailure{StockError::badResponse, {}, 429, 42.0}});
        limited.attempted = 1;
        std::exchange(source.pending, nullptr)(limited);
        clock.advance(42);
        QuoteBatch good;
        good.quotes.append(Quote{"AAPL", 10, 10, 0, 0, {}});
        good.attempted = 1;
        std::exchange(source.pending, nullptr)(good);
        QList<QJsonObject> feed;
        for (const QJsonObject& line : lines(text))
            if (line.value("event") == QLatin1String("feed"))
                feed.append(line);
        QCOMPARE(feed.size(), 2);
        QCOMPARE(feed[0], (QJsonObject{{"t", 2000},
                                       {"event", "feed"},
                                       {"feed", "paused"},
                                       {"resumesAt", 2042},
                                       {"reason", "rateLimited"},
                                       {"lastGoodRefresh", QJsonValue::Null},
                                       {"source", "poll"}}));
        QCOMPARE(feed[1], (QJsonObject{{"t", 2042},
                                       {"event", "feed"},
                                       {"feed", "live"},
                                       {"resumesAt", QJsonValue::Null},
                                       {"reason", QJsonValue::Null},
                                       {"lastGoodRefresh", 2042},
                                       {"source", "poll"}}));
        QVERIFY(text.contains(QStringLiteral(R"({"t":2000,"event":"feed","feed":"paused")")));
    }

    // The real command on the user's store and the shared feed client, pointed at the
    // simulator, for a few seconds of wall time. Bad arguments are refused first.
    void watchesTheSimulatedFeed() {
        QString outText, errText;
        QTextStream out(&outText), err(&errText);
        vellinectl::Io io{out, err};
        for (const char* bad : {"--seconds=0", "--seconds=nan", "--seconds=x", "--fast"})
            QCOMPARE(vellinectl::dispatch({"watch", QString::fromLatin1(bad)}, io),
                     vellinectl::ExitUsage);

        FeedSimulator simulator(Clock::system());
        QVERIFY(simulator.listen());
        qputenv("VELLINE_CHART_FEED_URL", simulator.baseUrl().toString().toUtf8());
        qputenv("VELLINE_STREAM_URL", simulator.streamUrl().toString().toUtf8());
        QCoreApplication::setOrganizationName(QStringLiteral("Velline"));
        QCoreApplication::setApplicationName(QStringLiteral("Velline"));
        UserPreferences::shared().setTrackedSymbols({"AAPL", "MSFT"});
        UserPreferences::shared().setShowFuturesAfterHours(false);
        QCOMPARE(vellinectl::dispatch({"watch", "--seconds", "3.5"}, io), vellinectl::ExitOk);
        QList<double> refreshes;
        for (const QJsonObject& e : lines(outText)) {
            if (e.value("event") == QLatin1String("stocks") &&
                e.value("records").toArray().size() == 2)
                refreshes << e.value("t").toDouble();
        }
        QVERIFY2(refreshes.size() >= 2, qPrintable(outText));
        QVERIFY(refreshes.last() - refreshes.first() >= 1.5);
    }
};

QTEST_GUILESS_MAIN(TestWatch)
#include "tst_watch.moc"
