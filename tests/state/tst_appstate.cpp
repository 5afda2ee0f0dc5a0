#include "clock/manualclock.h"
#include "feedsim/feedsimulator.h"
#include "market/stockservice.h"
#include "market/streamingquotesource.h"
#include "prefs/userpreferences.h"
#include "state/appstate.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <ctime>

using namespace velline;

namespace {

constexpr double t0 = 1704898800; // Wednesday 2024-01-10, 10:00 in New York: session open

// Hands a batch back only when the test says so, like a network that is still busy.
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
Quote quote(const QString& symbol, double price, double close = qQNaN(),
            QList<PricePoint> bars = {}) {
    return Quote{symbol, price, qIsNaN(close) ? price : close, 0, 0, std::move(bars)};
}

// The state on a fake source, or (`feed`) on the real chart-feed client and the simulator.
struct Rig {
    explicit Rig(const QStringList& tracked, bool feed = false)
        : settings(dir.filePath(QStringLiteral("v.conf")), QSettings::IniFormat), prefs(&settings),
          clock(t0), simulator(&clock) {
        prefs.setTrackedSymbols(tracked);
        prefs.setShowFuturesAfterHours(feed);
        if (feed && simulator.listen())
            service = std::make_unique<StockService>(simulator.baseUrl(), &clock);
        state = std::make_unique<AppState>(
            &prefs, feed ? static_cast<QuoteSource*>(service.get()) : &source, &clock,
            [this](const QString& s) { prefetched.append(s); });
    }
    void cycle(const QList<Quote>& quotes) {
        state->refresh();
        source.answer(quotes);
    }
    // Runs due jobs, starts a refresh unless one runs already, and waits until it ends.
    bool settle() {
        QSignalSpy done(state.get(), &AppState::refreshFinished);
        clock.runDue();
        state->refresh();
        return done.wait(5000);
    }
    QStringList requested() const {
        QStringList symbols;
        for (const LoggedRequest& r : simulator.requestLog())
            symbols << r.symbol;
        return symbols;
    }
    QString active() const { return state->activeSymbol().value_or(QStringLiteral("-")); }
    const Stock& at(int i) const { return state->stocks().at(i); }

    QTemporaryDir dir;
    QSettings settings;
    UserPreferences prefs;
    FakeSource source;
    ManualClock clock;
    FeedSimulator simulator;
    std::unique_ptr<StockService> service;
    QStringList prefetched;
    std::unique_ptr<AppState> state;
};

} // namespace

class TestAppState : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void sessionIsNewYorkTimeOnAnyMachine() {
        for (const char* zone : {"Asia/Tokyo", "America/Los_Angeles", "Europe/Berlin"}) {
            qputenv("TZ", zone);
            tzset();
            QVERIFY(AppState::isRegularSessionOpen(1720814399.9996)); // Fri 15:59:59.9996
            QVERIFY(!AppState::isRegularSessionOpen(1720814400));     // Fri 16:00
            QVERIFY(!AppState::isRegularSessionOpen(1720879200));     // Sat 10:00
            QVERIFY(!AppState::isRegularSessionOpen(1721050140));     // Mon 09:29
            QVERIFY(AppState::isRegularSessionOpen(1721050200));      // Mon 09:30 (summer)
            QVERIFY(AppState::isRegularSessionOpen(t0));              // winter
            QVERIFY(!AppState::isRegularSessionOpen(qQNaN()));
        }
    }

    void subscriptionsPrefetchAndRefresh() {
        Rig rig({"AAPL", "MSFT"});
        QVERIFY(rig.prefetched.isEmpty()); // the current list arrives after construction
        rig.clock.runDue();
        QCOMPARE(rig.prefetched, (QStringList{"AAPL", "MSFT"}));
        QCOMPARE(rig.source.calls, (QList<QStringList>{{"AAPL", "MSFT"}}));
        rig.source.answer({});
        rig.prefs.setTrackedSymbols({"NVDA"});
        rig.clock.runDue();
        QCOMPARE(rig.prefetched.last(), QStringLiteral("NVDA"));
        QCOMPARE(rig.source.calls.last(), QStringList{"NVDA"});
        rig.source.answer({});
        rig.prefs.setShowFuturesAfterHours(true); // a later value refreshes at once
        rig.clock.runDue();
        QCOMPARE(rig.source.calls.size(), 3);
    }

    void mergeKeepsFailedRecordsAndFollowsTheTrackedOrder() {
        Rig rig({"AAPL", "MSFT"});
        const QList<PricePoint> bars{{1, 10, 5}, {2, 11, 5}};
        rig.cycle({quote("AAPL", 100, 99, bars), quote("MSFT", 50)});
        const Stock aapl = rig.at(0);
        rig.clock.advance(2);
        rig.cycle({quote("msft", 1), quote("MSFT", 51)}); // not the requested spelling
        QCOMPARE(rig.at(0), aapl);

        rig.prefs.setTrackedSymbols({"MSFT", "AAPL"});
        rig.cycle({quote("AAPL", 101, 99)});
        QCOMPARE(rig.state->symbols(), (QStringList{"MSFT", "AAPL"}));
        QCOMPARE(rig.at(1).intraday, bars); // a quote without bars keeps the old ones

        // History keeps a sample exactly 1200 s old and drops one a millisecond older.
        rig.clock.advance(1200 - 2);
        rig.cycle({quote("MSFT", 52)});
        QCOMPARE(rig.at(0).history.first().time, t0);
        rig.clock.advance(0.001);
        rig.cycle({quote("MSFT", 52)});
        QCOMPARE(rig.at(0).history.first().time, t0 + 2);

        rig.state->setActiveSymbol(QStringLiteral("AAPL"));
        rig.prefs.setTrackedSymbols({"MSFT"});
        rig.cycle({});
        QCOMPARE(rig.active(), QStringLiteral("MSFT")); // its record is gone: the first
        rig.prefs.setTrackedSymbols({});
        rig.state->refresh();
        QVERIFY(rig.state->stocks().isEmpty() && !rig.state->activeSymbol());
    }

    void priceAlertsFireOncePerCrossing() {
        Rig rig({"AAPL", "MSFT"});
        rig.prefs.addAlert("AAPL", 100, PriceAlert::Direction::above);
        rig.prefs.addAlert("MSFT", 50, PriceAlert::Direction::below);
        QSignalSpy events(rig.state.get(), &AppState::alertEventChanged);
        auto step = [&](double aapl, double msft) {
            rig.clock.advance(301); // beyond the five-minute window of the last sample
            events.clear();
            rig.cycle({quote("AAPL", aapl, 100), quote("MSFT", msft, 50)});
            return events.size();
        };
        QCOMPARE(step(100.0, 50.2), 0); // new records never fire
        QCOMPARE(step(101, 49.9), 1);   // AAPL started on the level; MSFT crossed
        const AlertEvent fired = *rig.state->alertEvent();
        QCOMPARE(fired.reason, AlertEvent::Reason::priceCross(50, PriceAlert::Direction::below));
        QCOMPARE(fired.direction, Stock::Direction::down);
        QCOMPARE(rig.prefs.priceAlerts().at(1).lastTriggered, std::optional(rig.clock.now()));
        QCOMPARE(step(99, 49.8), 0); // still below: no second firing
        rig.state->setLastSwipeDirection(SwipeDirection::right);
        QCOMPARE(step(100.0, 49.8), 1); // ending on the level fires; the carousel jumps
        QCOMPARE(rig.active(), QStringLiteral("AAPL"));
        QCOMPARE(rig.state->lastSwipeDirection(), SwipeDirection::left);
        QCOMPARE(rig.state->alertsForActive().size(), 1);

        rig.prefs.addAlert("AAPL", 105, PriceAlert::Direction::above);
        step(99, 49.8);
        QCOMPARE(step(106, 49.8), 3); // both alerts, then the 6 % spike, which wins
        QVERIFY(rig.state->alertEvent()->isSpike());
        QCOMPARE(rig.prefs.priceAlerts().at(2).lastTriggered, std::optional(rig.clock.now()));
    }

    void spikeThresholdsAndCoolDown() {
        Rig rig({"AAPL", "IBM"});
        QSignalSpy spiked(rig.state.get(), &AppState::spikedSymbolChanged);
        auto cycle = [&](double wait, double ibm, double ibmClose) {
            rig.clock.advance(wait);
            rig.cycle({quote("AAPL", 102.5, 100), quote("IBM", ibm, ibmClose)});
            return spiked.size();
        };
        QCOMPARE(cycle(0, 100, 100), 1); // 2.5 % up at launch
        QCOMPARE(rig.at(0).lastSpikeAt, std::optional(t0));
        QCOMPARE(cycle(599.9, 100, 100), 1);
        QCOMPARE(cycle(0.2, 100, 100), 2); // more than 600 s later, still beyond 2 %
        // Window rule, with no close (flat): 0.99 % in five minutes is quiet, 1.0 % fires.
        QCOMPARE(cycle(100, 100.99, 0), 2);
        QCOMPARE(cycle(100, 101, 0), 3);
        QCOMPARE(rig.state->spikedSymbol(), std::optional<QString>("IBM"));
        QCOMPARE(rig.state->alertEvent()->direction, Stock::Direction::flat);

        Rig volume({"X"}); // recent bars at three times the earlier average (inclusive)
        volume.cycle(
            {quote("X", 10, 10, {{1, 10, 100}, {2, 10, 300}, {3, 10, 300}, {4, 10, 300}})});
        QCOMPARE(volume.state->spikedSymbol(), std::optional<QString>("X"));
    }

    void eventsShowFourSecondsAndNeverClearANewerOne() {
        Rig rig({"A"});
        const AlertEvent first{QUuid::createUuid(), "A", {}, Stock::Direction::up, 0};
        AlertEvent second = first;
        second.id = QUuid::createUuid();
        rig.state->fireAlert(first);
        rig.clock.advance(3);
        rig.state->fireAlert(second);
        rig.clock.advance(3.999);
        QCOMPARE(rig.state->alertEvent(), std::optional(second));
        rig.clock.advance(0.001);
        QVERIFY(!rig.state->alertEvent());
    }

    void carouselRotatesSwipesPausesAndRemoves() {
        Rig rig({"A", "B", "C"});
        rig.state->start();
        rig.clock.runDue();
        rig.source.answer({quote("A", 1), quote("B", 1), quote("C", 1)});
        QStringList seen;
        for (int i = 0; i < 3; ++i) {
            rig.clock.advance(10);
            seen << rig.active();
        }
        QCOMPARE(seen, (QStringList{"B", "C", "A"}));

        SwipeDirection announced = SwipeDirection::none; // set before the symbol changes
        connect(rig.state.get(), &AppState::activeSymbolChanged, this,
                [&] { announced = rig.state->lastSwipeDirection(); });
        rig.clock.advance(4);
        rig.state->swipe(SwipeDirection::right); // A -> C, and the wait restarts
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
        rig.state->resumeRotation();
        rig.clock.advance(9.9);
        QCOMPARE(rig.active(), QStringLiteral("B"));
        rig.clock.advance(0.1);
        QCOMPARE(rig.active(), QStringLiteral("C"));

        rig.state->swipe(SwipeDirection::right);
        rig.state->removeActive(); // B goes, C takes its place
        QCOMPARE(rig.prefs.trackedSymbols(), (QStringList{"A", "C"}));
        QCOMPARE(rig.state->symbols(), (QStringList{"A", "C"}));
        QCOMPARE(rig.active(), QStringLiteral("C"));
        QCOMPARE(rig.state->lastSwipeDirection(), SwipeDirection::left);
        rig.state->removeActive(); // the last goes: the new last
        QCOMPARE(rig.active(), QStringLiteral("A"));
        rig.clock.advance(10); // a single record neither rotates nor swipes
        rig.state->swipe(SwipeDirection::left);
        QCOMPARE(rig.active(), QStringLiteral("A"));
        QVERIFY(!rig.state->isRotationArmed());
    }

    void derivedValuesForTheViews() {
        Rig rig({"AAPL", "MSFT"});
        QVERIFY(!rig.state->activeStock());
        rig.prefs.setHolding("AAPL", 10);
        rig.prefs.setHolding("MSFT", 2);
        rig.prefs.setHolding("TSLA", 5);
        rig.cycle({quote("AAPL", 110, 100), quote("MSFT", 50, 0)});
        Stock duplicate = rig.at(0); // lookups take the first match
        duplicate.price = 999;
        rig.state->setStocks(QList<Stock>(rig.state->stocks()) << duplicate);
        QCOMPARE(rig.state->portfolioMarketValue(), 10 * 110 + 2 * 50.0);
        QCOMPARE(rig.state->portfolioDayPL(), 10 * 10.0); // MSFT has no close

        QSignalSpy active(rig.state.get(), &AppState::activeSymbolChanged);
        rig.state->setActiveSymbol(QStringLiteral("NEW")); // not on screen yet
        rig.state->setActiveSymbol(QStringLiteral("NEW")); // equal values notify too
        QCOMPARE(active.size(), 2);
        QCOMPARE(rig.state->activeStock()->symbol, QStringLiteral("AAPL"));
    }

    // What the views read through the properties is the record without its price history;
    // the state keeps the history for the spike check.
    void viewsGetRecordsWithoutHistory() {
        Rig rig({"AAPL", "MSFT"});
        for (int i = 0; i < 3; ++i) {
            rig.cycle({quote("AAPL", 110 + i, 100), quote("MSFT", 50, 49)});
            rig.clock.advance(2);
        }
        QCOMPARE(rig.at(0).history.size(), 3);
        const auto views = rig.state->property("stocks").value<QList<Stock>>();
        QCOMPARE(views.size(), 2);
        for (qsizetype i = 0; i < views.size(); ++i) {
            QVERIFY(views[i].history.isEmpty());
            Stock expected = rig.at(int(i));
            expected.history.clear();
            QCOMPARE(views[i], expected);
        }
        const auto active = rig.state->property("activeStock").value<Stock>();
        Stock expected = *rig.state->activeStock();
        QCOMPARE(expected.history.size(), 3);
        expected.history.clear();
        QCOMPARE(active, expected);
    }

    // On the real chart-feed client, against the local feed simulator.
    void failedSymbolKeepsItsRecord() {
        Rig rig({"AAPL", "MSFT"}, true);
        QVERIFY(rig.settle());
        const Stock msft = rig.at(1);
        rig.simulator.script("MSFT", ScriptedAnswer::fixedAnswer(500, "oops"));
        rig.clock.advance(2);
        QVERIFY(rig.settle());
        QCOMPARE(rig.at(1), msft);
        QCOMPARE(rig.at(0).lastUpdate, t0 + 2);
    }

    void tickDuringARefreshIsDropped() {
        Rig rig({"AAPL", "MSFT"}, true);
        rig.simulator.script("AAPL", ScriptedAnswer::stall());
        QSignalSpy done(rig.state.get(), &AppState::refreshFinished);
        rig.state->start();
        rig.clock.runDue();
        QTRY_COMPARE(rig.requested(), QStringList{"AAPL"});
        rig.clock.advance(StockService::requestTimeoutSeconds - 0.5); // three ticks meanwhile
        QTest::qWait(50);
        QCOMPARE(rig.requested(), QStringList{"AAPL"});
        rig.simulator.clearScript("AAPL");
        rig.clock.advance(0.5); // the stalled request times out and the batch goes on
        QTRY_COMPARE(done.size(), 1);
        QCOMPARE(rig.state->symbols(), QStringList{"MSFT"});
        rig.clock.advance(2);
        QTRY_COMPARE(done.size(), 2);
        QCOMPARE(rig.requested(), (QStringList{"AAPL", "MSFT", "AAPL", "MSFT"}));
    }

    void futuresSwitchStartsFromEmptyRecords() {
        Rig rig({"AAPL"}, true);
        QVERIFY(rig.settle());
        QList<qsizetype> published;
        connect(rig.state.get(), &AppState::stocksChanged, this,
                [&] { published << rig.state->stocks().size(); });
        rig.simulator.clearRequestLog();
        rig.clock.setNow(t0 + 7 * 3600); // 17:00: closed
        QVERIFY(rig.settle());
        QVERIFY(rig.state->isAfterHours());
        QCOMPARE(published, (QList<qsizetype>{0, 6}));
        QCOMPARE(rig.requested(), (QStringList{"ES=F", "NQ=F", "YM=F", "RTY=F", "GC=F", "CL=F"}));
        // The first record becomes active, unless a future spiked on its first merge.
        QCOMPARE(rig.active(), rig.state->spikedSymbol().value_or(QStringLiteral("ES=F")));
    }

    // Between two chart answers the streamed price moves the record, and a level it crosses
    // sets off the alert once.
    void aStreamedPriceMovesTheRecordAndCrossesAnAlertOnce() {
        QTemporaryDir dir;
        QSettings settings(dir.filePath(QStringLiteral("v.conf")), QSettings::IniFormat);
        UserPreferences prefs(&settings);
        prefs.setTrackedSymbols({"AAPL"});
        prefs.setShowFuturesAfterHours(false);
        ManualClock clock(t0);
        FeedSimulator sim(&clock);
        QVERIFY(sim.listen());
        StockService http(sim.baseUrl(), &clock);
        StreamingQuoteSource source(sim.streamUrl(), &http, &clock, &AppState::isSymbolSessionOpen);
        const auto streamed = [&](double at) {
            return roundWithPriceHint(sim.streamer().tickFor("AAPL", at).price, 2);
        };
        // The level: the highest streamed price from 20 s to 200 s, not reached before.
        double level = 0;
        for (int s = 20; s <= 200; ++s)
            level = std::max(level, streamed(t0 + s));
        for (int s = 0; s < 20; ++s)
            QVERIFY(streamed(t0 + s) < level);
        prefs.addAlert("AAPL", level, PriceAlert::Direction::above);

        AppState state(&prefs, &source, &clock, {});
        int received = 0;
        connect(&source, &StreamingQuoteSource::streamedPrice, this, [&] { ++received; });
        int crossings = 0;
        connect(&state, &AppState::alertEventChanged, this, [&] {
            if (state.alertEvent() && !state.alertEvent()->isSpike())
                ++crossings;
        });
        state.start();
        QVERIFY(QTest::qWaitFor(
            [&] {
                clock.runDue();
                return received > 0 && sim.chartRequestCount() == 1 && !state.stocks().isEmpty();
            },
            20000));
        for (int s = 1; s <= 210; ++s) {
            clock.advanceTo(t0 + s);
            QVERIFY(QTest::qWaitFor([&] { return received == sim.streamer().messagesSent(); }));
        }
        clock.advance(AppState::refreshPeriod);
        QVERIFY(
            QTest::qWaitFor([&] { return state.stocks().first().price == streamed(t0 + 210); }));
        QCOMPARE(crossings, 1);
        QCOMPARE(sim.chartRequestCount(), 1); // every move came on the stream
    }
};

QTEST_GUILESS_MAIN(TestAppState)
#include "tst_appstate.moc"
