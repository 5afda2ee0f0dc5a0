#include "clock/manualclock.h"
#include "prefs/userpreferences.h"
#include "state/appstate.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <ctime>

using namespace velline;

namespace {

constexpr double wednesdayTenNY = 1704898800;   // 2024-01-10 10:00 New York: session open
constexpr double tuesdayEveningNY = 1700000000; // 2023-11-14 17:13 New York: closed

// Hands each batch back only when the test says so, like a network that is still busy.
class FakeSource : public QuoteSource {
public:
    void fetchQuotes(const QStringList& symbols, QObject*,
                     std::function<void(QList<Quote>)> done) override {
        calls.append(symbols);
        pending = std::move(done);
    }
    void answer(const QList<Quote>& quotes) { std::exchange(pending, nullptr)(quotes); }
    QList<QStringList> calls;
    std::function<void(QList<Quote>)> pending;
};

// Without a previous close the quote is measured against its own price.
Quote quote(const QString& symbol, double price, double previousClose = qQNaN(),
            QList<PricePoint> bars = {}) {
    Quote q;
    q.symbol = symbol;
    q.price = price;
    q.previousClose = qIsNaN(previousClose) ? price : previousClose;
    q.intraday = std::move(bars);
    return q;
}

struct Rig {
    explicit Rig(const QStringList& tracked, double start = wednesdayTenNY, bool futures = false)
        : settings(dir.filePath(QStringLiteral("v.conf")), QSettings::IniFormat), prefs(&settings),
          clock(start) {
        prefs.setTrackedSymbols(tracked);
        prefs.setShowFuturesAfterHours(futures);
        state = std::make_unique<AppState>(&prefs, &source, &clock,
                                           [this](const QString& s) { prefetched.append(s); });
    }
    // One full refresh: start it, then answer with the given quotes.
    void cycle(const QList<Quote>& quotes) {
        state->refresh();
        source.answer(quotes);
    }
    QStringList symbols() const { return state->symbols(); }
    QString active() const { return state->activeSymbol().value_or(QStringLiteral("-")); }

    QTemporaryDir dir;
    QSettings settings;
    UserPreferences prefs;
    FakeSource source;
    ManualClock clock;
    QStringList prefetched;
    std::unique_ptr<AppState> state;
};

} // namespace

class TestAppState : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void sessionIsNewYorkTimeOnAnyMachine() {
        for (const char* zone : {"Europe/Berlin", "Asia/Tokyo", "America/Los_Angeles", "UTC"}) {
            qputenv("TZ", zone);
            tzset();
            QVERIFY(AppState::isRegularSessionOpen(1720814340));      // Fri 15:59
            QVERIFY(AppState::isRegularSessionOpen(1720814399.9996)); // Fri 15:59:59.9996
            QVERIFY(!AppState::isRegularSessionOpen(1720814400));     // Fri 16:00
            QVERIFY(!AppState::isRegularSessionOpen(1720879200));     // Sat 10:00
            QVERIFY(!AppState::isRegularSessionOpen(1721050140));     // Mon 09:29
            QVERIFY(AppState::isRegularSessionOpen(1721050200));      // Mon 09:30
            QVERIFY(AppState::isRegularSessionOpen(1710163800));      // Mon after DST start
            QVERIFY(AppState::isRegularSessionOpen(wednesdayTenNY));  // winter time
            QVERIFY(!AppState::isRegularSessionOpen(qQNaN()));
        }
        qputenv("TZ", "Europe/Berlin");
        tzset();
    }

    void subscriptionsPrefetchAndRefreshWithTheInFlightGuard() {
        Rig rig({"AAPL", "MSFT"});
        QVERIFY(rig.prefetched.isEmpty()); // the current list arrives after construction
        rig.clock.runDue();
        QCOMPARE(rig.prefetched, (QStringList{"AAPL", "MSFT"}));
        QCOMPARE(rig.source.calls, (QList<QStringList>{{"AAPL", "MSFT"}}));

        // Ticks and start() while the first refresh waits are dropped, not queued.
        rig.state->start();
        rig.clock.advance(6);
        QCOMPARE(rig.source.calls.size(), 1);
        QVERIFY(rig.state->isRefreshInFlight());
        rig.source.answer({quote("AAPL", 100)});
        QVERIFY(!rig.state->isRefreshInFlight());
        rig.clock.advance(2);
        QCOMPARE(rig.source.calls.size(), 2);
        rig.source.answer({});

        // A new tracked list prefetches its logos and refreshes at once; the futures option
        // refreshes on change only.
        rig.prefs.setTrackedSymbols({"NVDA"});
        rig.clock.runDue();
        QCOMPARE(rig.prefetched.last(), QStringLiteral("NVDA"));
        QCOMPARE(rig.source.calls.last(), QStringList{"NVDA"});
        rig.source.answer({});
        rig.prefs.setShowFuturesAfterHours(true);
        rig.clock.runDue();
        QCOMPARE(rig.source.calls.size(), 4);
    }

    void mergeKeepsFailedRecordsAndFollowsTheTrackedOrder() {
        Rig rig({"AAPL", "MSFT"});
        const QList<PricePoint> bars{{1, 10, 5}, {2, 11, 5}};
        rig.cycle({quote("AAPL", 100, 99, bars), quote("MSFT", 50)});
        const Stock aapl = rig.state->stocks().first();
        QCOMPARE(aapl.history.size(), 1);
        QCOMPARE(aapl.lastUpdate, wednesdayTenNY);
        QCOMPARE(rig.active(), QStringLiteral("AAPL"));

        rig.clock.advance(2);
        // AAPL fails; "msft" is not the requested spelling; MSFT has no bars this time.
        rig.cycle({quote("msft", 1), quote("MSFT", 51)});
        QCOMPARE(rig.state->stocks().first(), aapl);
        QCOMPARE(rig.state->stocks().at(1).price, 51.0);
        QCOMPARE(rig.state->stocks().at(1).history.size(), 2);

        rig.prefs.setTrackedSymbols({"MSFT", "AAPL"});
        rig.cycle({quote("AAPL", 101, 99)});
        QCOMPARE(rig.symbols(), (QStringList{"MSFT", "AAPL"}));
        QCOMPARE(rig.state->stocks().at(1).intraday, bars); // empty bar list keeps the old

        // History keeps a sample exactly 1200 s old and drops one a millisecond older.
        rig.clock.advance(1200 - 2);
        rig.cycle({quote("MSFT", 52)});
        QCOMPARE(rig.state->stocks().first().history.first().time, wednesdayTenNY);
        rig.clock.advance(0.001);
        rig.cycle({quote("MSFT", 52)});
        QCOMPARE(rig.state->stocks().first().history.first().time, wednesdayTenNY + 2);

        // The active symbol moves to the first record once its own record is gone, and an
        // empty list clears the screen.
        rig.state->setActiveSymbol(QStringLiteral("AAPL"));
        rig.prefs.setTrackedSymbols({"MSFT"});
        rig.cycle({});
        QCOMPARE(rig.active(), QStringLiteral("MSFT"));
        rig.prefs.setTrackedSymbols({});
        rig.state->refresh();
        QVERIFY(rig.state->stocks().isEmpty());
        QVERIFY(!rig.state->activeSymbol());
    }

    void closingSwitchesToFuturesFromEmptyRecords() {
        Rig rig({"AAPL"}, tuesdayEveningNY - 3 * 3600, true); // 14:13 New York, open
        QVERIFY(!rig.state->isAfterHours());
        rig.cycle({quote("AAPL", 100)});
        QSignalSpy stocks(rig.state.get(), &AppState::stocksChanged);
        rig.clock.setNow(tuesdayEveningNY);
        rig.state->refresh();
        QVERIFY(rig.state->isAfterHours());
        QVERIFY(rig.state->stocks().isEmpty());
        QCOMPARE(stocks.size(), 1);
        QCOMPARE(rig.source.calls.last(), AppState::futuresSymbols());
        QCOMPARE(AppState::futuresSymbols(),
                 (QStringList{"ES=F", "NQ=F", "YM=F", "RTY=F", "GC=F", "CL=F"}));
        rig.source.answer({quote("NQ=F", 1), quote("ES=F", 2)});
        QCOMPARE(rig.symbols(), (QStringList{"ES=F", "NQ=F"}));
        QCOMPARE(rig.active(), QStringLiteral("ES=F"));

        rig.prefs.setShowFuturesAfterHours(false);
        rig.cycle({quote("AAPL", 100)});
        QVERIFY(!rig.state->isAfterHours());
        QCOMPARE(rig.symbols(), QStringList{"AAPL"});
    }

    void priceAlertsFireOncePerCrossing() {
        Rig rig({"AAPL", "MSFT"});
        const QUuid above = *rig.prefs.addAlert("AAPL", 100, PriceAlert::Direction::above);
        const QUuid below = *rig.prefs.addAlert("MSFT", 50, PriceAlert::Direction::below);
        QSignalSpy events(rig.state.get(), &AppState::alertEventChanged);
        auto step = [&](double aapl, double msft) {
            rig.clock.advance(301); // outside the five-minute window of the last sample
            events.clear();
            rig.cycle({quote("AAPL", aapl, 100), quote("MSFT", msft, 50)});
        };
        step(100.0, 50.2); // brand-new records never fire
        QCOMPARE(events.size(), 0);
        step(101, 49.9); // starting on the level is no crossing; 50.2 -> 49.9 fires
        QCOMPARE(events.size(), 1);
        QCOMPARE(rig.state->alertEvent()->symbol, QStringLiteral("MSFT"));
        QCOMPARE(rig.state->alertEvent()->reason,
                 AlertEvent::Reason::priceCross(50, PriceAlert::Direction::below));
        QCOMPARE(rig.state->alertEvent()->direction, Stock::Direction::down);
        QCOMPARE(rig.prefs.priceAlerts().at(1).lastTriggered, std::optional(rig.clock.now()));
        QCOMPARE(rig.prefs.priceAlerts().at(1).id, below);
        step(99, 49.8); // no second firing below the level
        QCOMPARE(events.size(), 0);
        rig.state->setActiveSymbol(QStringLiteral("MSFT"));
        rig.state->setLastSwipeDirection(SwipeDirection::right);
        step(100.0, 49.8); // ending exactly on the level fires, and the carousel jumps
        QCOMPARE(rig.state->alertEvent()->symbol, QStringLiteral("AAPL"));
        QCOMPARE(rig.active(), QStringLiteral("AAPL"));
        QCOMPARE(rig.state->lastSwipeDirection(), SwipeDirection::left);
        QVERIFY(rig.prefs.priceAlerts().first().lastTriggered);
        QCOMPARE(rig.state->alertsForActive().first().id, above);

        // Two alerts in one merge are both marked; a spike after them wins.
        rig.prefs.addAlert("AAPL", 105, PriceAlert::Direction::above);
        step(99, 49.8);
        step(106, 49.8); // both AAPL alerts cross, and 6 % above the close is a spike
        QCOMPARE(events.size(), 3);
        QVERIFY(rig.state->alertEvent()->isSpike());
        QCOMPARE(rig.prefs.priceAlerts().at(2).lastTriggered, std::optional(rig.clock.now()));
        QCOMPARE(rig.prefs.priceAlerts().first().lastTriggered, std::optional(rig.clock.now()));
    }

    void spikeThresholdsAndCoolDown() {
        Rig rig({"AAPL", "IBM"});
        QSignalSpy spiked(rig.state.get(), &AppState::spikedSymbolChanged);
        rig.cycle({quote("AAPL", 102.5, 100), quote("IBM", 100)}); // 2.5 % up at launch
        QCOMPARE(spiked.size(), 1);
        QCOMPARE(rig.state->spikedSymbol(), std::optional<QString>("AAPL"));
        QCOMPARE(rig.state->stocks().first().lastSpikeAt, std::optional(rig.clock.now()));
        QCOMPARE(rig.state->alertEvent()->direction, Stock::Direction::up);
        rig.clock.advance(599.9);
        rig.cycle({quote("AAPL", 102.5, 100), quote("IBM", 100)});
        QCOMPARE(spiked.size(), 1);
        rig.clock.advance(0.2);
        rig.cycle({quote("AAPL", 102.5, 100), quote("IBM", 100)});
        QCOMPARE(spiked.size(), 2);

        // Window rule (no close): 0.99 % in five minutes stays quiet, 1.0 % fires, flat.
        rig.clock.advance(100);
        rig.cycle({quote("AAPL", 102.5, 100), quote("IBM", 100.99, 0)});
        QCOMPARE(spiked.size(), 2);
        rig.clock.advance(100);
        rig.cycle({quote("AAPL", 102.5, 100), quote("IBM", 101, 0)});
        QCOMPARE(spiked.size(), 3);
        QCOMPARE(rig.state->alertEvent()->symbol, QStringLiteral("IBM"));
        QCOMPARE(rig.state->alertEvent()->direction, Stock::Direction::flat);

        // Bar volume three times the earlier average fires (inclusive).
        Rig volume({"X"});
        const QList<PricePoint> bars{{1, 10, 100}, {2, 10, 300}, {3, 10, 300}, {4, 10, 300}};
        volume.cycle({quote("X", 10, 10, bars)});
        QCOMPARE(volume.state->spikedSymbol(), std::optional<QString>("X"));
    }

    void eventsShowFourSecondsAndNeverClearANewerOne() {
        Rig rig({"A"});
        QSignalSpy changes(rig.state.get(), &AppState::alertEventChanged);
        AlertEvent first{QUuid::createUuid(), "A", AlertEvent::Reason::spike(),
                         Stock::Direction::up, 0};
        AlertEvent second = first;
        second.id = QUuid::createUuid();
        rig.state->fireAlert(first);
        rig.clock.advance(3);
        rig.state->fireAlert(second);
        rig.clock.advance(3.999);
        QCOMPARE(rig.state->alertEvent(), std::optional<AlertEvent>(second));
        rig.clock.advance(0.001);
        QVERIFY(!rig.state->alertEvent());
        QCOMPARE(changes.size(), 3);
    }

    void carouselRotatesSwipesAndPauses() {
        Rig rig({"A", "B", "C"});
        rig.cycle({quote("A", 1), quote("B", 1), quote("C", 1)});
        rig.state->start();
        rig.clock.runDue();
        rig.source.answer({quote("A", 1), quote("B", 1), quote("C", 1)});
        QStringList seen;
        for (int i = 0; i < 3; ++i) {
            rig.clock.advance(10);
            seen << rig.active();
        }
        QCOMPARE(seen, (QStringList{"B", "C", "A"}));
        QCOMPARE(rig.state->lastSwipeDirection(), SwipeDirection::left);

        // The direction is already set when the active symbol is announced.
        SwipeDirection announced = SwipeDirection::none;
        connect(rig.state.get(), &AppState::activeSymbolChanged, this,
                [&] { announced = rig.state->lastSwipeDirection(); });
        rig.clock.advance(4);
        rig.state->swipe(SwipeDirection::right); // A -> C, the wait restarts
        QCOMPARE(rig.active(), QStringLiteral("C"));
        QCOMPARE(announced, SwipeDirection::right);
        rig.clock.advance(9.9);
        rig.state->swipe(SwipeDirection::none);
        QCOMPARE(rig.active(), QStringLiteral("C"));
        rig.clock.advance(0.1);
        QCOMPARE(rig.active(), QStringLiteral("A"));

        rig.clock.advance(5);
        rig.state->setActiveSymbol(QStringLiteral("A")); // the same value keeps the schedule
        rig.clock.advance(5);
        QCOMPARE(rig.active(), QStringLiteral("B"));

        rig.state->suspendRotation();
        rig.clock.advance(25);
        QCOMPARE(rig.active(), QStringLiteral("B"));
        rig.state->resumeRotation();
        rig.clock.advance(9.9);
        QCOMPARE(rig.active(), QStringLiteral("B"));
        rig.clock.advance(0.1);
        QCOMPARE(rig.active(), QStringLiteral("C"));

        // Removing B: C takes its place; removing the last one selects the new last.
        rig.state->swipe(SwipeDirection::right);
        rig.state->removeActive();
        QCOMPARE(rig.prefs.trackedSymbols(), (QStringList{"A", "C"}));
        QCOMPARE(rig.symbols(), (QStringList{"A", "C"}));
        QCOMPARE(rig.active(), QStringLiteral("C"));
        QCOMPARE(rig.state->lastSwipeDirection(), SwipeDirection::left);
        rig.state->removeActive();
        QCOMPARE(rig.active(), QStringLiteral("A"));
    }

    void singleRecordStaysStillUntilTheActiveSymbolChanges() {
        Rig rig({"A"});
        rig.state->start();
        rig.clock.runDue();
        rig.source.answer({quote("A", 1)});
        rig.clock.advance(10);
        QVERIFY(!rig.state->isRotationArmed());
        rig.state->swipe(SwipeDirection::left);
        QCOMPARE(rig.active(), QStringLiteral("A"));

        rig.prefs.setTrackedSymbols({"A", "B"});
        rig.clock.runDue();
        rig.source.answer({quote("A", 1), quote("B", 1)});
        rig.clock.advance(30);
        QCOMPARE(rig.active(), QStringLiteral("A")); // nothing armed yet
        rig.state->resumeRotation();
        rig.clock.advance(10);
        QCOMPARE(rig.active(), QStringLiteral("B"));
    }

    void derivedValuesForTheViews() {
        Rig rig({"AAPL", "MSFT"});
        QVERIFY(!rig.state->activeStock());
        rig.prefs.setHolding("AAPL", 10);
        rig.prefs.setHolding("MSFT", 2);
        rig.prefs.setHolding("TSLA", 5);
        rig.cycle({quote("AAPL", 110, 100), quote("MSFT", 50, 0)});
        Stock duplicate = rig.state->stocks().first(); // lookups take the first match
        duplicate.price = 999;
        rig.state->setStocks(QList<Stock>(rig.state->stocks()) << duplicate);
        QCOMPARE(rig.state->portfolioMarketValue(), 10 * 110 + 2 * 50.0);
        QCOMPARE(rig.state->portfolioDayPL(), 10 * 10.0);

        QSignalSpy active(rig.state.get(), &AppState::activeSymbolChanged);
        rig.state->setActiveSymbol(QStringLiteral("NEW")); // not on screen yet
        rig.state->setActiveSymbol(QStringLiteral("NEW")); // equal values notify too
        QCOMPARE(active.size(), 2);
        QCOMPARE(rig.state->activeStock()->symbol, QStringLiteral("AAPL"));
        QVERIFY(rig.state->alertsForActive().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestAppState)
#include "tst_appstate.moc"
