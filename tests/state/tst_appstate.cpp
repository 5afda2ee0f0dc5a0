#include "clock/manualclock.h"
#include "prefs/userpreferences.h"
#include "state/appstate.h"
#include "state/marketcalendar.h"

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
    void fetchQuotes(const QStringList&, QObject*, std::function<void(QList<Quote>)>) override {
        QFAIL("the refresh cycle asks for whole batches");
    }
    void fetchBatch(const QStringList& symbols, QObject*,
                    std::function<void(QuoteBatch)> done) override {
        calls.append(symbols);
        pending = std::move(done);
    }
    void answer(QuoteBatch batch) { std::exchange(pending, nullptr)(std::move(batch)); }
    void answer(const QList<Quote>& quotes) {
        answer(QuoteBatch{quotes, {}, int(calls.last().size())});
    }
    QList<QStringList> calls;
    std::function<void(QuoteBatch)> pending;
};

// Without a previous close the quote is measured against its own price.
Quote quote(const QString& symbol, double price, double close = qQNaN(),
            QList<PricePoint> bars = {}) {
    return Quote{symbol, price, qIsNaN(close) ? price : close, 0, 0, std::move(bars)};
}

QuoteBatch failing(const QString& symbol, StockError error, int status = 0,
                   std::optional<double> retryAfter = std::nullopt) {
    return QuoteBatch{{}, {SymbolFailure{symbol, QuoteFailure{error, {}, status, retryAfter}}}, 1};
}

struct Rig {
    explicit Rig(const QStringList& tracked, double start = t0)
        : settings(dir.filePath(QStringLiteral("v.conf")), QSettings::IniFormat), prefs(&settings),
          clock(start) {
        prefs.setTrackedSymbols(tracked);
        prefs.setShowFuturesAfterHours(false);
        state = std::make_unique<AppState>(&prefs, &source, &clock,
                                           [this](const QString& s) { prefetched.append(s); });
        state->feedBackoff().setRandom([] { return 0.5; }); // rate-limit pauses without spread
    }
    void cycle(const QList<Quote>& quotes) {
        state->refresh();
        source.answer(quotes);
    }
    Rig& started() {
        state->start();
        clock.runDue();
        return *this;
    }
    // Requests made up to `instant` (answering none).
    qsizetype callsBy(double instant) {
        clock.advanceTo(instant);
        return source.calls.size();
    }
    QString active() const { return state->activeSymbol().value_or(QStringLiteral("-")); }
    const Stock& at(int i) const { return state->stocks().at(i); }

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
        for (const char* zone : {"Asia/Tokyo", "America/Los_Angeles", "Europe/Berlin"}) {
            qputenv("TZ", zone);
            tzset();
            QVERIFY(AppState::isRegularSessionOpen(1720814399.9996)); // Fri 15:59:59.9996
            QVERIFY(!AppState::isRegularSessionOpen(1720814400));     // Fri 16:00
            QVERIFY(!AppState::isRegularSessionOpen(1720879200));     // Sat 10:00
            QVERIFY(!AppState::isRegularSessionOpen(1721050140));     // Mon 09:29
            QVERIFY(AppState::isRegularSessionOpen(1721050200));      // Mon 09:30 (summer)
            QVERIFY(!AppState::isRegularSessionOpen(qQNaN()));
        }
    }

    void holidaysAndEarlyClosesFollowThePublishedCalendars() {
        const QList<QDate> holidays{
            {2024, 1, 1},  {2024, 1, 15}, {2024, 2, 19}, {2024, 3, 29},  {2024, 5, 27},
            {2024, 6, 19}, {2024, 7, 4},  {2024, 9, 2},  {2024, 11, 28}, {2024, 12, 25},
            {2025, 1, 1},  {2025, 1, 20}, {2025, 2, 17}, {2025, 4, 18},  {2025, 5, 26},
            {2025, 6, 19}, {2025, 7, 4},  {2025, 9, 1},  {2025, 11, 27}, {2025, 12, 25},
            {2026, 1, 1},  {2026, 1, 19}, {2026, 2, 16}, {2026, 4, 3},   {2026, 5, 25},
            {2026, 6, 19}, {2026, 7, 3},  {2026, 9, 7},  {2026, 11, 26}, {2026, 12, 25},
            {2027, 1, 1},  {2027, 1, 18}, {2027, 2, 15}, {2027, 3, 26},  {2027, 5, 31},
            {2027, 6, 18}, {2027, 7, 5},  {2027, 9, 6},  {2027, 11, 25}, {2027, 12, 24}};
        const QList<QDate> earlyCloses{{2024, 7, 3},   {2024, 11, 29}, {2024, 12, 24},
                                       {2025, 7, 3},   {2025, 11, 28}, {2025, 12, 24},
                                       {2026, 11, 27}, {2026, 12, 24}, {2027, 11, 26}};
        // Every weekday of the four years, so no extra holiday slips in either.
        for (QDate d(2024, 1, 1); d <= QDate(2027, 12, 31); d = d.addDays(1)) {
            const QByteArray day = d.toString(Qt::ISODate).toLatin1();
            if (d.dayOfWeek() > 5) {
                QVERIFY2(!nyse::isSessionOpen(d, 600), day);
                continue;
            }
            const bool holiday = holidays.contains(d), early = earlyCloses.contains(d);
            QVERIFY2(nyse::isHoliday(d) == holiday, day);
            QVERIFY2(nyse::earlyCloseMinutes(d).has_value() == early, day);
            QCOMPARE(nyse::isSessionOpen(d, 12 * 60 + 59), !holiday);
            QCOMPARE(nyse::isSessionOpen(d, 13 * 60), !holiday && !early);
            QCOMPARE(nyse::isSessionOpen(d, 15 * 60 + 59), !holiday && !early);
            QVERIFY(!nyse::isSessionOpen(d, 16 * 60) && !nyse::isSessionOpen(d, 9 * 60 + 29));
        }
        // Juneteenth is a holiday only from 2022.
        QVERIFY(!nyse::isHoliday(QDate(2021, 6, 18)) && nyse::isHoliday(QDate(2022, 6, 20)));
        QCOMPARE(nyse::easterSunday(2038), QDate(2038, 4, 25));
        // In New York time from any instant: Christmas Eve 2024 closes at 13:00 sharp.
        QVERIFY(AppState::isRegularSessionOpen(1735063199));  // 12:59:59
        QVERIFY(!AppState::isRegularSessionOpen(1735063200)); // 13:00
    }

    void subscriptionsPrefetchAndRefresh() {
        Rig rig({"AAPL", "MSFT"});
        QVERIFY(rig.prefetched.isEmpty()); // the current list arrives after construction
        rig.clock.runDue();
        QCOMPARE(rig.prefetched, (QStringList{"AAPL", "MSFT"}));
        QCOMPARE(rig.source.calls, (QList<QStringList>{{"AAPL", "MSFT"}}));
        rig.source.answer(QList<Quote>{});
        rig.prefs.setTrackedSymbols({"NVDA"});
        rig.clock.runDue();
        QCOMPARE(rig.prefetched.last(), QStringLiteral("NVDA"));
        QCOMPARE(rig.source.calls.last(), QStringList{"NVDA"});
        rig.source.answer(QList<Quote>{});
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

        // What the views read is the record without its price history.
        Stock expected = rig.at(0);
        QVERIFY(!expected.history.isEmpty());
        expected.history.clear();
        QCOMPARE(rig.state->property("stocks").value<QList<Stock>>().first(), expected);
        expected = *rig.state->activeStock();
        expected.history.clear();
        QCOMPARE(rig.state->property("activeStock").value<Stock>(), expected);

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
        QCOMPARE(rig.state->alertEvent()->reason,
                 AlertEvent::Reason::priceCross(50, PriceAlert::Direction::below));
        QCOMPARE(rig.state->alertEvent()->direction, Stock::Direction::down);
        QCOMPARE(rig.prefs.priceAlerts().at(1).lastTriggered, std::optional(rig.clock.now()));
        QCOMPARE(step(99, 49.8), 0); // still below: no second firing
        rig.state->setLastSwipeDirection(SwipeDirection::right);
        QCOMPARE(step(100.0, 49.8), 1); // ending on the level fires; the carousel jumps
        QCOMPARE(rig.active(), QStringLiteral("AAPL"));
        QCOMPARE(rig.state->lastSwipeDirection(), SwipeDirection::left);
        QCOMPARE(rig.state->alertsForActive().size(), 1);

        rig.prefs.addAlert("MSFT", 49.8, PriceAlert::Direction::below);
        QCOMPARE(step(100.0, 49.7), 0); // leaving the level it rested on is no crossing either

        rig.prefs.addAlert("AAPL", 105, PriceAlert::Direction::above);
        step(99, 49.8);
        QCOMPARE(step(106, 49.8), 3); // both alerts, then the 6 % spike, which wins
        QVERIFY(rig.state->alertEvent()->isSpike());
        QCOMPARE(rig.prefs.priceAlerts().at(3).lastTriggered, std::optional(rig.clock.now()));
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
        QCOMPARE(cycle(0.1, 100, 100), 1); // exactly 600 s: the cool-down is not over yet
        QCOMPARE(cycle(0.1, 100, 100), 2); // after it, still beyond 2 %
        // Window rule, with no close (flat): 0.99 % in five minutes is quiet, 1.0 % fires.
        QCOMPARE(cycle(100, 100.99, 0), 2);
        QCOMPARE(cycle(100, 101, 0), 3);
        QCOMPARE(rig.state->spikedSymbol(), std::optional<QString>("IBM"));
        QCOMPARE(rig.state->alertEvent()->direction, Stock::Direction::flat);

        // A day move of exactly 2.00 % counts, 1.99 % does not; a fall in the window counts too.
        Rig day({"D"});
        day.cycle({quote("D", 101.99, 100)});
        QVERIFY(!day.state->spikedSymbol());
        day.clock.advance(2);
        day.cycle({quote("D", 102, 100)});
        QCOMPARE(day.state->spikedSymbol(), std::optional<QString>("D"));
        Rig fall({"F"});
        fall.cycle({quote("F", 100, 0)});
        fall.clock.advance(100);
        fall.cycle({quote("F", 99, 0)});
        QCOMPARE(fall.state->spikedSymbol(), std::optional<QString>("F"));

        Rig volume({"X"}); // recent bars at three times the earlier average (inclusive)
        volume.cycle(
            {quote("X", 10, 10, {{1, 10, 100}, {2, 10, 300}, {3, 10, 300}, {4, 10, 300}})});
        QCOMPARE(volume.state->spikedSymbol(), std::optional<QString>("X"));
    }

    void eventsShowFourSecondsAndNeverClearANewerOne() {
        Rig rig({"A"});
        const AlertEvent first{QUuid::createUuid(), "A", {}, Stock::Direction::up, 0};
        const AlertEvent second{QUuid::createUuid(), "A", {}, Stock::Direction::up, 0};
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
        rig.started().source.answer({quote("A", 1), quote("B", 1), quote("C", 1)});
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
        QCOMPARE(rig.active(), QStringLiteral("C"));
        QCOMPARE(rig.state->lastSwipeDirection(), SwipeDirection::left);
        rig.state->removeActive(); // the last goes: the new last
        QCOMPARE(rig.active(), QStringLiteral("A"));
        rig.clock.advance(10); // a single record neither rotates nor swipes
        rig.state->swipe(SwipeDirection::right);
        QCOMPARE(rig.active(), QStringLiteral("A"));
        QCOMPARE(rig.state->lastSwipeDirection(), SwipeDirection::left);
        QVERIFY(!rig.state->isRotationArmed());
    }

    void portfolioAndLookups() {
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

    void tickDuringARefreshIsDropped() {
        Rig rig({"AAPL", "MSFT"});
        QSignalSpy done(rig.state.get(), &AppState::refreshFinished);
        rig.started();
        QCOMPARE(rig.callsBy(t0 + 7.5), 1); // three ticks meanwhile
        rig.source.answer({quote("MSFT", 1)});
        QCOMPARE(done.size(), 1);
        QCOMPARE(rig.state->symbols(), QStringList{"MSFT"});
        QCOMPARE(rig.callsBy(t0 + 7.999), 1); // none of the dropped ticks is made up for
        QCOMPARE(rig.callsBy(t0 + 8), 2);
    }

    void futuresReplaceTheListOutsideTheSession() {
        Rig rig({"AAPL"});
        rig.cycle({quote("AAPL", 1)});
        rig.prefs.setShowFuturesAfterHours(true);
        QList<qsizetype> published;
        connect(rig.state.get(), &AppState::stocksChanged, this,
                [&] { published << rig.state->stocks().size(); });
        rig.clock.setNow(t0 + 7 * 3600); // 17:00: closed
        rig.clock.runDue();
        QVERIFY(rig.state->isAfterHours());
        QCOMPARE(rig.source.calls.last(),
                 (QStringList{"ES=F", "NQ=F", "YM=F", "RTY=F", "GC=F", "CL=F"}));
        QList<Quote> futures;
        for (const QString& s : AppState::futuresSymbols())
            futures << quote(s, 1);
        rig.source.answer(futures);
        QCOMPARE(published, (QList<qsizetype>{0, 6})); // from empty records
        QCOMPARE(rig.active(), QStringLiteral("ES=F"));

        Rig holiday({"AAPL"}, 1735137000); // Christmas 2024, 09:30 in New York
        holiday.prefs.setShowFuturesAfterHours(true);
        holiday.clock.runDue();
        QCOMPARE(holiday.source.calls.last(), AppState::futuresSymbols());
    }

    void aRateLimitStopsEveryRequestUntilTheFeedSaysSo() {
        Rig rig({"AAPL"});
        QCOMPARE(rig.started().source.calls.size(), 1);
        rig.source.answer({quote("AAPL", 100)});
        QCOMPARE(rig.state->feedStatus(), AppState::FeedStatus::live);
        rig.clock.advance(1); // t0 + 1
        QCOMPARE(rig.callsBy(t0 + 2), 2);
        rig.source.answer(failing("AAPL", StockError::badResponse, 429, 42));
        QCOMPARE(rig.state->feedStatus(), AppState::FeedStatus::paused);
        QCOMPARE(rig.state->feedResumesAt(), std::optional<double>(t0 + 44));
        // Ticks, a change of the watch list and "refresh now" all wait.
        rig.prefs.setTrackedSymbols({"AAPL", "MSFT"});
        rig.state->refresh();
        QCOMPARE(rig.callsBy(t0 + 43.999), 2);
        QCOMPARE(rig.callsBy(t0 + 44), 3);
        QCOMPARE(rig.source.calls.last(), (QStringList{"AAPL", "MSFT"}));
        rig.source.answer({quote("AAPL", 100), quote("MSFT", 100)});
        QCOMPARE(rig.state->feedStatus(), AppState::FeedStatus::live);
        QVERIFY(!rig.state->feedResumesAt());
        // Then the two-second cycle again.
        QCOMPARE(rig.callsBy(t0 + 45.999), 3);
        QCOMPARE(rig.callsBy(t0 + 46), 4);
    }

    void troubleKindsSetTheStatusAndTheGrowingPause() {
        Rig rig({"AAPL"});
        rig.started();
        const auto pauseAfter = [&rig](const QuoteBatch& b) {
            rig.source.answer(b);
            const double pause = *rig.state->feedResumesAt() - rig.clock.now();
            rig.clock.advanceTo(*rig.state->feedResumesAt());
            return pause;
        };
        QCOMPARE(pauseAfter(failing("AAPL", StockError::badResponse, 502)), 4.0);
        QCOMPARE(pauseAfter(failing("AAPL", StockError::badResponse, 502)), 8.0);
        QCOMPARE(rig.state->feedStatus(), AppState::FeedStatus::paused);
        QCOMPARE(pauseAfter(failing("AAPL", StockError::transport)), 2.0);
        QCOMPARE(rig.state->feedStatus(), AppState::FeedStatus::offline);
    }

    void theNetworkComingBackEndsOnlyAnOfflinePause() {
        Rig rig({"AAPL"});
        rig.started().source.answer(failing("AAPL", StockError::badResponse, 429, 300));
        rig.state->networkReachable();
        QCOMPARE(rig.source.calls.size(), 1);
        QVERIFY(rig.state->isFeedPaused());

        rig.clock.advanceTo(t0 + 300);
        QCOMPARE(rig.source.calls.size(), 2);
        rig.source.answer(failing("AAPL", StockError::transport));
        QVERIFY(rig.state->isFeedPaused());
        rig.state->networkReachable();
        QCOMPARE(rig.source.calls.size(), 3);
        QVERIFY(!rig.state->isFeedPaused());
    }

    void oneFailingSymbolChangesNothingForTheOthers() {
        Rig rig({"AAPL", "NOPE"});
        rig.started().source.answer({quote("AAPL", 100)});
        QCOMPARE(rig.callsBy(t0 + 2), 2);
        rig.source.answer(QuoteBatch{{quote("AAPL", 100)},
                                     {{"NOPE", QuoteFailure{StockError::badResponse, {}, 404, {}}}},
                                     2});
        QCOMPARE(rig.state->feedStatus(), AppState::FeedStatus::live);
        QCOMPARE(rig.state->lastGoodRefresh(), std::optional<double>(t0 + 2));
        QCOMPARE(rig.callsBy(t0 + 4), 3);
        QCOMPARE(rig.state->stocks().size(), 1);
    }

    void quotesGoStaleAfterThirtySecondsInTheSessionAndSixtyOutside() {
        Rig rig({"AAPL"});
        rig.started().source.answer({quote("AAPL", 100)}); // at t0
        QSignalSpy stale(rig.state.get(), &AppState::feedStaleChanged);
        rig.clock.advance(2);
        rig.source.answer(failing("AAPL", StockError::transport)); // good refresh stays at t0
        rig.clock.advanceTo(t0 + 29.999);
        QVERIFY(!rig.state->isFeedStale());
        rig.clock.advanceTo(t0 + 30);
        QVERIFY(rig.state->isFeedStale());
        QCOMPARE(stale.size(), 1);
        rig.source.answer({quote("AAPL", 100)}); // the retry booked at t0 + 4 is still waiting
        QVERIFY(!rig.state->isFeedStale());
        QCOMPARE(stale.size(), 2);

        // Saturday: the limit is a minute, also counted from start-up without any quote.
        const double saturday = 1705157400; // 2024-01-13, 09:50 in New York
        Rig weekend({"AAPL"}, saturday);
        weekend.started().source.answer(failing("AAPL", StockError::transport));
        weekend.clock.advanceTo(saturday + 59.999);
        QVERIFY(!weekend.state->isFeedStale());
        weekend.clock.advanceTo(saturday + 60);
        QVERIFY(weekend.state->isFeedStale());
        QVERIFY(!weekend.state->lastGoodRefresh());
    }
};

QTEST_GUILESS_MAIN(TestAppState)
#include "tst_appstate.moc"
