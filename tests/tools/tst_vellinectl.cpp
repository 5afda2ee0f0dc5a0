// vellinectl prefs on the user's store, and vellinectl watch: its printer on a held source and
// the real command against the feed simulator.
#include "clock/manualclock.h"
#include "cmd_watch.h"
#include "ctlrun.h"
#include "feedsim/feedsimulator.h"
#include "prefs/userpreferences.h"
#include "state/appstate.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace velline;

namespace {

CtlRun prefs(const QStringList& args) {
    return runCtl(QStringList{"prefs"} + args);
}

QString storePath() {
    return UserPreferences::openDefaultStore()->fileName();
}
QByteArray storeBytes() {
    QFile f(storePath());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Holds each batch until the test answers it.
struct HeldSource : QuoteSource {
    void fetchQuotes(const QStringList&, QObject*, std::function<void(QList<Quote>)>) override {}
    void fetchBatch(const QStringList&, QObject*, std::function<void(QuoteBatch)> done) override {
        pending = std::move(done);
    }
    std::function<void(QuoteBatch)> pending;
};

// The watch printer on a state of its own.
struct WatchRig {
    explicit WatchRig(double start)
        : settings(dir.filePath(QStringLiteral("v.conf")), QSettings::IniFormat), prefs(&settings),
          clock(start), state(&prefs, &source, &clock, {}), out(&text),
          printer(&state, &clock, out) {}
    QTemporaryDir dir;
    QSettings settings;
    UserPreferences prefs;
    HeldSource source;
    ManualClock clock;
    AppState state;
    QString text;
    QTextStream out;
    vellinectl::WatchPrinter printer;
};

} // namespace

class TestVellinectl : public QObject {
    Q_OBJECT
    QTemporaryDir m_config; // the "user's" store of this run

private Q_SLOTS:
    void initTestCase() { qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8()); }
    void init() { QFile::remove(storePath()); }

    void prefsPrintsDefaultsWithoutWriting() {
        const CtlRun r = prefs({});
        QVERIFY(r.rc == 0 && r.lines.size() == 1);
        const QJsonObject s = r.state();
        QCOMPARE(s.keys(), (QStringList{"colorScheme", "desktopNotifications", "displayMode",
                                        "holdings", "priceAlerts", "recentlyAdded",
                                        "showFuturesAfterHours", "trackedSymbols"}));
        QCOMPARE(s.value("trackedSymbols").toArray().at(4).toString(), QStringLiteral("^GSPC"));
        QCOMPARE(s.value("desktopNotifications").toBool(true), false);
        QVERIFY(!QFile::exists(storePath()));
    }

    void prefsSubCommandsChangeTheStoreAndPrintIt() {
        CtlRun r = prefs({"add-symbol", " nvda "});
        QCOMPARE(r.rc, 0);
        QCOMPARE(r.lines.first(), QStringLiteral(R"({"symbol":"NVDA"})"));
        QCOMPARE(r.state().value("recentlyAdded").toArray(), QJsonArray{"NVDA"});

        r = prefs({"set-tracked", " aapl", "AAPL", "msft\t", ""});
        QCOMPARE(r.state().value("trackedSymbols").toArray(), (QJsonArray{"AAPL", "MSFT"}));

        prefs({"set-holding", "aapl", "12.5"});
        prefs({"set-holding", "msft", "3"});
        r = prefs({"set-holding", " aapl", "-1"});
        QCOMPARE(r.state().value("holdings").toArray(),
                 QJsonArray{(QJsonObject{{"symbol", "MSFT"}, {"shares", 3}})});
        r = prefs({"remove-holding", "msft"});
        QCOMPARE(r.state().value("holdings").toArray(), QJsonArray());

        r = prefs({"add-alert", "aapl", "190.5", "below"});
        QCOMPARE(r.rc, 0);
        const QJsonObject alert = r.state().value("priceAlerts").toArray().at(0).toObject();
        QCOMPARE(alert.keys(), (QStringList{"direction", "id", "price", "symbol"}));
        QCOMPARE(alert.value("symbol").toString(), QStringLiteral("AAPL"));
        const QString id = alert.value("id").toString();
        QVERIFY(id.size() == 36 && id == id.toUpper());
        r = prefs({"remove-alert", id.toLower()});
        QCOMPARE(r.state().value("priceAlerts").toArray(), QJsonArray());

        prefs({"set-display-mode", "compact2"});
        prefs({"set-futures", "false"});
        r = prefs({"set-notifications", "true"});
        QCOMPARE(r.state().value("displayMode").toString(), QStringLiteral("compact2"));
        QCOMPARE(r.state().value("showFuturesAfterHours").toBool(), false);
        QCOMPARE(r.state().value("desktopNotifications").toBool(), true);
        // Every change is on disk: a plain read shows the same state.
        QCOMPARE(prefs({}).lines, QStringList{r.lines.last()});
    }

    void prefsWrongArgumentsExit64AndChangeNothing() {
        prefs({"set-holding", "AAPL", "1"});
        const QByteArray before = storeBytes();
        const QList<QStringList> bad{
            {"bogus"},
            {"add-symbol"},
            {"set-holding", "AAPL", "nan"},
            {"set-holding", " \t", "3"},
            {"add-alert", "AAPL", "10", "up"},
            {"remove-alert", "not-a-uuid"},
            {"set-display-mode", "compactLogo"},
            // longer than the 12 characters every door of the app takes
            {"set-tracked", "AAPL", " abcdefghijklm"},
            {"set-holding", "ABCDEFGHIJKLM", "1"},
            {"add-alert", "ABCDEFGHIJKLM", "10", "above"},
        };
        for (const QStringList& args : bad) {
            const CtlRun r = prefs(args);
            const QByteArray what = args.join(' ').toUtf8();
            QVERIFY2(r.rc == 64 && r.lines.isEmpty(), what);
            QVERIFY2(r.err.startsWith("vellinectl prefs: "), what);
        }
        // A blank or too long add-symbol is no usage error, but adds nothing and fails.
        QCOMPARE(prefs({"add-symbol", "  \t"}).rc, 1);
        const CtlRun tooLong = prefs({"add-symbol", "abcdefghijklm"});
        QCOMPARE(tooLong.rc, 1);
        QVERIFY(tooLong.lines.isEmpty());
        QVERIFY(tooLong.err.contains("longer than 12 characters"));
        QCOMPARE(storeBytes(), before);
        QCOMPARE(prefs({"add-symbol", "abcdefghijkl"}).rc, 0);

        const CtlRun help = prefs({"set-holding", "--help"});
        QCOMPARE(help.rc, 0);
        QVERIFY(help.lines.join('\n').contains("set-display-mode RAW"));
    }

    // A longer symbol already stored can still be kept, changed and removed from a script.
    void prefsStoredLongSymbolsStayChangeable() {
        const QString longSymbol(75, u'X');
        {
            const auto store = UserPreferences::openDefaultStore();
            UserPreferences stored(store.get());
            stored.setTrackedSymbols({"AAPL", longSymbol});
            stored.setHoldings({{longSymbol, 2}});
        }
        QCOMPARE(
            prefs({"set-tracked", longSymbol, "msft"}).state().value("trackedSymbols").toArray(),
            (QJsonArray{longSymbol, "MSFT"}));
        QCOMPARE(prefs({"set-holding", longSymbol, "5"}).state().value("holdings").toArray(),
                 QJsonArray{(QJsonObject{{"symbol", longSymbol}, {"shares", 5}})});
        QCOMPARE(prefs({"remove-holding", longSymbol}).state().value("holdings").toArray(),
                 QJsonArray());
    }

    void watchPrintsEveryPublishedChangeAsOrderedJsonLines() {
        WatchRig rig(1000);
        Stock stock;
        stock.symbol = QStringLiteral("AAPL");
        stock.price = 101.5;
        stock.previousClose = 100;
        stock.lastSpikeAt = 990.5;
        rig.state.setStocks({stock});
        rig.state.setActiveSymbol(std::nullopt);
        rig.state.fireAlert({QUuid::createUuid(), "AAPL",
                             AlertEvent::Reason::priceCross(101, PriceAlert::Direction::above),
                             Stock::Direction::up, 1000});
        rig.clock.advance(4);
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
                .match(rig.text)
                .hasMatch(),
            qPrintable(rig.text));
    }

    void watchPrintsTheFeedStatusAsItsOwnEvent() {
        WatchRig rig(2000);
        rig.prefs.setTrackedSymbols({"AAPL"});
        rig.state.refresh();
        QuoteBatch limited;
        limited.failures.append({"AAPL", QuoteFailure{StockError::badResponse, {}, 429, 42.0}});
        limited.attempted = 1;
        std::exchange(rig.source.pending, nullptr)(limited);
        rig.clock.advance(42);
        std::exchange(rig.source.pending,
                      nullptr)(QuoteBatch{{Quote{"AAPL", 10, 10, 0, 0, {}}}, {}, 1});
        QCOMPARE(rig.text.split(QLatin1Char('\n')).filter(QLatin1String(R"("event":"feed")")),
                 (QStringList{R"({"t":2000,"event":"feed","feed":"paused","resumesAt":2042,)"
                              R"("reason":"rateLimited","lastGoodRefresh":null,"source":"poll"})",
                              R"({"t":2042,"event":"feed","feed":"live","resumesAt":null,)"
                              R"("reason":null,"lastGoodRefresh":2042,"source":"poll"})"}));
    }

    // The real command on the user's store and the shared feed client, pointed at the
    // simulator, for a few seconds of wall time. Bad arguments are refused first.
    void watchWatchesTheSimulatedFeed() {
        for (const char* bad : {"--seconds=0", "--seconds=nan", "--seconds=x", "--fast"})
            QCOMPARE(runCtl({"watch", QString::fromLatin1(bad)}).rc, vellinectl::ExitUsage);

        FeedSimulator simulator(Clock::system());
        QVERIFY(simulator.listen());
        qputenv("VELLINE_CHART_FEED_URL", simulator.baseUrl().toString().toUtf8());
        qputenv("VELLINE_STREAM_URL", simulator.streamUrl().toString().toUtf8());
        QCoreApplication::setOrganizationName(QStringLiteral("Velline"));
        QCoreApplication::setApplicationName(QStringLiteral("Velline"));
        UserPreferences::shared().setTrackedSymbols({"AAPL", "MSFT"});
        UserPreferences::shared().setShowFuturesAfterHours(false);
        const CtlRun r = runCtl({"watch", "--seconds", "3.5"});
        QCOMPARE(r.rc, vellinectl::ExitOk);
        QList<double> refreshes;
        for (const QString& line : r.lines) {
            const QJsonObject e = QJsonDocument::fromJson(line.toUtf8()).object();
            if (e.value("event") == QLatin1String("stocks") && e["records"].toArray().size() == 2)
                refreshes << e.value("t").toDouble();
        }
        QVERIFY2(refreshes.size() >= 2, qPrintable(r.lines.join('\n')));
        QVERIFY(refreshes.last() - refreshes.first() >= 1.5);
    }
};

QTEST_GUILESS_MAIN(TestVellinectl)
#include "tst_vellinectl.moc"
