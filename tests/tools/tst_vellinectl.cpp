// vellinectl prefs on the user's store, and vellinectl watch: its arguments and its printer on a
// held source.
#include "clock/manualclock.h"
#include "cmd_watch.h"
#include "ctlrun.h"
#include "prefs/userpreferences.h"
#include "state/appstate.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace velline;

namespace {

CtlRun prefs(const QStringList& args) {
    return runCtl(QStringList{"prefs"} + args);
}
// One value of the state a prefs command printed.
QJsonArray after(const QStringList& args, const char* key) {
    return prefs(args).state().value(QLatin1String(key)).toArray();
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
        QCOMPARE(s.value("desktopNotifications").toBool(true), false);
        QVERIFY(!QFile::exists(storePath()));
    }

    void prefsSubCommandsChangeTheStoreAndPrintIt() {
        CtlRun r = prefs({"add-symbol", " nvda "});
        QCOMPARE(r.lines.first(), QStringLiteral(R"({"symbol":"NVDA"})"));
        QCOMPARE(r.state().value("recentlyAdded").toArray(), QJsonArray{"NVDA"});

        QCOMPARE(after({"set-tracked", " aapl", "AAPL", "msft\t", ""}, "trackedSymbols"),
                 (QJsonArray{"AAPL", "MSFT"}));

        prefs({"set-holding", "aapl", "12.5"});
        prefs({"set-holding", "msft", "3"});
        QCOMPARE(after({"set-holding", " aapl", "-1"}, "holdings"),
                 QJsonArray{(QJsonObject{{"symbol", "MSFT"}, {"shares", 3}})});
        QCOMPARE(after({"remove-holding", "msft"}, "holdings"), QJsonArray());

        const QJsonObject alert =
            after({"add-alert", "aapl", "190.5", "below"}, "priceAlerts").at(0).toObject();
        QCOMPARE(alert.keys(), (QStringList{"direction", "id", "price", "symbol"}));
        const QString id = alert.value("id").toString();
        QVERIFY(id.size() == 36 && id == id.toUpper());
        QCOMPARE(after({"remove-alert", id.toLower()}, "priceAlerts"), QJsonArray());

        prefs({"set-display-mode", "compact2"});
        prefs({"set-futures", "false"});
        r = prefs({"set-notifications", "true"});
        QVERIFY(r.lines.last().contains(R"("desktopNotifications":true,"displayMode":"compact2")"));
        QVERIFY(r.lines.last().contains(R"("showFuturesAfterHours":false)"));
        // Every change is on disk: a plain read shows the same state.
        QCOMPARE(prefs({}).lines, QStringList{r.lines.last()});
    }

    void prefsWrongArgumentsExit64AndChangeNothing() {
        prefs({"set-holding", "AAPL", "1"});
        const QByteArray before = storeBytes();
        // Arguments split at '|'; the last three are longer than the 12 characters every door of
        // the app takes.
        for (const char* bad :
             {"bogus", "add-symbol", "set-holding|AAPL|nan", "set-holding| \t|3",
              "add-alert|AAPL|10|up", "remove-alert|not-a-uuid", "set-display-mode|compactLogo",
              "set-tracked|AAPL| abcdefghijklm", "set-holding|ABCDEFGHIJKLM|1",
              "add-alert|ABCDEFGHIJKLM|10|above"}) {
            const CtlRun r = prefs(QString::fromUtf8(bad).split(u'|'));
            QVERIFY2(r.rc == 64 && r.out.isEmpty() && r.err.startsWith("vellinectl prefs: "), bad);
        }
        // A blank or too long add-symbol is no usage error, but adds nothing and fails.
        QCOMPARE(prefs({"add-symbol", "  \t"}).rc, 1);
        const CtlRun tooLong = prefs({"add-symbol", "abcdefghijklm"});
        QVERIFY(tooLong.rc == 1 && tooLong.lines.isEmpty());
        QVERIFY(tooLong.err.contains("longer than 12 characters"));
        QCOMPARE(storeBytes(), before);
        QCOMPARE(prefs({"add-symbol", "abcdefghijkl"}).rc, 0);

        const CtlRun help = prefs({"set-holding", "--help"});
        QVERIFY(help.rc == 0 && help.out.contains("set-display-mode RAW"));
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
        QCOMPARE(after({"set-tracked", longSymbol, "msft"}, "trackedSymbols"),
                 (QJsonArray{longSymbol, "MSFT"}));
        QCOMPARE(after({"set-holding", longSymbol, "5"}, "holdings"),
                 QJsonArray{(QJsonObject{{"symbol", longSymbol}, {"shares", 5}})});
        QCOMPARE(after({"remove-holding", longSymbol}, "holdings"), QJsonArray());
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
        for (const char* bad : {"--seconds=0", "--seconds=nan", "--seconds=x", "--fast"})
            QCOMPARE(runCtl({"watch", QString::fromLatin1(bad)}).rc, vellinectl::ExitUsage);
        WatchRig rig(2000);
        rig.prefs.setTrackedSymbols({"AAPL"});
        rig.state.refresh();
        std::exchange(rig.source.pending, nullptr)(
            QuoteBatch{{}, {{"AAPL", QuoteFailure{StockError::badResponse, {}, 429, 42.0}}}, 1});
        rig.clock.advance(42);
        std::exchange(rig.source.pending,
                      nullptr)(QuoteBatch{{Quote{"AAPL", 10, 10, 0, 0, {}}}, {}, 1});
        QCOMPARE(rig.text.split(QLatin1Char('\n')).filter(QLatin1String(R"("event":"feed")")),
                 (QStringList{R"({"t":2000,"event":"feed","feed":"paused","resumesAt":2042,)"
                              R"("reason":"rateLimited","lastGoodRefresh":null,"source":"poll"})",
                              R"({"t":2042,"event":"feed","feed":"live","resumesAt":null,)"
                              R"("reason":null,"lastGoodRefresh":2042,"source":"poll"})"}));
    }
};

QTEST_GUILESS_MAIN(TestVellinectl)
#include "tst_vellinectl.moc"
