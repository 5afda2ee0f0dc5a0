#include "clock/manualclock.h"
#include "prefs/userpreferences.h"
#include "state/appstate.h"
#include "state/marketcalendar.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace velline;

namespace {

constexpr double t0 = 1704898800; // Wednesday 2024-01-10, 10:00 in New York: session open

// Holds each batch until the test answers it.
class BatchSource : public QuoteSource {
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
    QList<QStringList> calls;
    std::function<void(QuoteBatch)> pending;
};

QuoteBatch good(const QStringList& symbols) {
    QuoteBatch b;
    for (const QString& s : symbols)
        b.quotes.append(Quote{s, 100, 99, 0, 0, {}});
    b.attempted = static_cast<int>(symbols.size());
    return b;
}

QuoteBatch failing(const QString& symbol, StockError error, int status = 0,
                   std::optional<double> retryAfter = std::nullopt) {
    QuoteBatch b;
    b.failures.append(SymbolFailure{symbol, QuoteFailure{error, {}, status, retryAfter}});
    b.attempted = 1;
    return b;
}

struct Rig {
    explicit Rig(double start = t0)
        : settings(dir.filePath(QStringLiteral("v.conf")), QSettings::IniFormat), prefs(&settings),
          clock(start) {
        prefs.setTrackedSymbols({"AAPL"});
        prefs.setShowFuturesAfterHours(false);
        state = std::make_unique<AppState>(&prefs, &source, &clock, LogoPrefetch());
        state->feedBackoff().setRandom([] { return 0.5; }); // rate-limit pauses without spread
        state->start();
        clock.runDue();
    }
    // Requests made up to `instant` (answering none).
    qsizetype callsBy(double instant) {
        clock.advanceTo(instant);
        return source.calls.size();
    }

    QTemporaryDir dir;
    QSettings settings;
    UserPreferences prefs;
    BatchSource source;
    ManualClock clock;
    std::unique_ptr<AppState> state;
};

} // namespace

class TestFeedHealth : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void aRateLimitStopsEveryRequestUntilTheFeedSaysSo() {
        Rig rig;
        QCOMPARE(rig.source.calls.size(), 1);
        rig.source.answer(good({"AAPL"}));
        QCOMPARE(rig.state->feedStatus(), AppState::FeedStatus::live);
        rig.clock.advance(1); // t0 + 1
        QCOMPARE(rig.callsBy(t0 + 2), 2);
        QSignalSpy status(rig.state.get(), &AppState::feedStatusChanged);
        rig.source.answer(failing("AAPL", StockError::badResponse, 429, 42));
        QCOMPARE(rig.state->feedStatus(), AppState::FeedStatus::paused);
        QCOMPARE(rig.state->feedTroubleName(), QStringLiteral("rateLimited"));
        QCOMPARE(rig.state->feedResumesAt(), std::optional<double>(t0 + 44));
        QCOMPARE(status.size(), 1);
        // Ticks, a change of the watch list and "refresh now" all wait.
        rig.prefs.setTrackedSymbols({"AAPL", "MSFT"});
        rig.state->refresh();
        QCOMPARE(rig.callsBy(t0 + 43.999), 2);
        QCOMPARE(rig.callsBy(t0 + 44), 3);
        QCOMPARE(rig.source.calls.last(), (QStringList{"AAPL", "MSFT"}));
        rig.source.answer(good({"AAPL", "MSFT"}));
        QCOMPARE(rig.state->feedStatus(), AppState::FeedStatus::live);
        QVERIFY(!rig.state->feedResumesAt());
        // Then the two-second cycle again, on its own schedule.
        QCOMPARE(rig.callsBy(t0 + 45.999), 3);
        QCOMPARE(rig.callsBy(t0 + 46), 4);
    }

    void pausesGrowWhileTheTroubleLasts() {
        Rig rig;
        const auto pauseAfter = [&rig](const QuoteBatch& b) {
            rig.source.answer(b);
            const double pause = *rig.state->feedResumesAt() - rig.clock.now();
            rig.clock.advanceTo(*rig.state->feedResumesAt());
            return pause;
        };
        QList<double> seen;
        for (int i = 0; i < 6; ++i)
            seen << pauseAfter(failing("AAPL", StockError::badResponse, 429));
        QCOMPARE(seen, (QList<double>{60, 120, 240, 480, 960, 1800}));
        seen.clear();
        for (int i = 0; i < 6; ++i)
            seen << pauseAfter(failing("AAPL", StockError::badResponse, 502));
        QCOMPARE(seen, (QList<double>{4, 8, 16, 32, 60, 60}));
        QCOMPARE(rig.state->feedStatus(), AppState::FeedStatus::paused);
        seen.clear();
        for (int i = 0; i < 6; ++i)
            seen << pauseAfter(failing("AAPL", StockError::transport));
        QCOMPARE(seen, (QList<double>{2, 4, 8, 16, 30, 30}));
        QCOMPARE(rig.state->feedStatus(), AppState::FeedStatus::offline);
    }

    void theNetworkComingBackEndsOnlyAnOfflinePause() {
        Rig rig;
        rig.source.answer(failing("AAPL", StockError::badResponse, 429, 300));
        rig.state->networkReachable();
        QCOMPARE(rig.source.calls.size(), 1);
        QVERIFY(rig.state->isFeedPaused());

        rig.clock.advanceTo(t0 + 300);
        QCOMPARE(rig.source.calls.size(), 2);
        for (int i = 0; i < 5; ++i) { // offline for a while: the pause is 30 s by now
            rig.source.answer(failing("AAPL", StockError::transport));
            rig.clock.advanceTo(*rig.state->feedResumesAt());
        }
        rig.source.answer(failing("AAPL", StockError::transport));
        QCOMPARE(*rig.state->feedResumesAt() - rig.clock.now(), 30.0);
        const qsizetype before = rig.source.calls.size();
        rig.state->networkReachable();
        QCOMPARE(rig.source.calls.size(), before + 1);
        QVERIFY(!rig.state->isFeedPaused());
    }

    void oneFailingSymbolChangesNothingForTheOthers() {
        Rig rig;
        rig.prefs.setTrackedSymbols({"AAPL", "NOPE"});
        rig.clock.runDue();
        rig.source.answer(good({"AAPL"}));
        QCOMPARE(rig.callsBy(t0 + 2), 2);
        QuoteBatch mixed = good({"AAPL"});
        mixed.failures.append({"NOPE", QuoteFailure{StockError::badResponse, {}, 404, {}}});
        rig.source.answer(mixed);
        QCOMPARE(rig.state->feedStatus(), AppState::FeedStatus::live);
        QCOMPARE(rig.state->lastGoodRefresh(), std::optional<double>(t0 + 2));
        QCOMPARE(rig.callsBy(t0 + 4), 3);
        QCOMPARE(rig.state->stocks().size(), 1);
    }

    void quotesGoStaleAfterThirtySecondsInTheSessionAndSixtyOutside() {
        Rig rig;
        rig.source.answer(good({"AAPL"})); // at t0
        QSignalSpy stale(rig.state.get(), &AppState::feedStaleChanged);
        rig.clock.advance(2);
        rig.source.answer(failing("AAPL", StockError::transport)); // good refresh stays at t0
        rig.clock.advanceTo(t0 + 29.999);
        QVERIFY(!rig.state->isFeedStale());
        rig.clock.advanceTo(t0 + 30);
        QVERIFY(rig.state->isFeedStale());
        QCOMPARE(stale.size(), 1);
        rig.source.answer(good({"AAPL"})); // the retry booked at t0 + 4 is still waiting
        QVERIFY(!rig.state->isFeedStale());
        QCOMPARE(stale.size(), 2);

        // Saturday: the limit is a minute, also counted from start-up without any quote.
        Rig weekend(1705157400); // Saturday 2024-01-13, 09:50 in New York
        weekend.source.answer(failing("AAPL", StockError::transport));
        weekend.clock.advanceTo(1705157400 + 59.999);
        QVERIFY(!weekend.state->isFeedStale());
        weekend.clock.advanceTo(1705157400 + 60);
        QVERIFY(weekend.state->isFeedStale());
        QVERIFY(!weekend.state->lastGoodRefresh());
        QCOMPARE(AppState::staleAfter(t0), 30.0);
        QCOMPARE(AppState::staleAfter(1705157400), 60.0);
    }

    void holidaysAndEarlyClosesFollowThePublishedCalendars() {
        // The exchange's full closures, 2024 to 2027.
        const QList<QDate> holidays{
            {2024, 1, 1},  {2024, 1, 15}, {2024, 2, 19}, {2024, 3, 29},  {2024, 5, 27},
            {2024, 6, 19}, {2024, 7, 4},  {2024, 9, 2},  {2024, 11, 28}, {2024, 12, 25},
            {2025, 1, 1},  {2025, 1, 20}, {2025, 2, 17}, {2025, 4, 18},  {2025, 5, 26},
            {2025, 6, 19}, {2025, 7, 4},  {2025, 9, 1},  {2025, 11, 27}, {2025, 12, 25},
            {2026, 1, 1},  {2026, 1, 19}, {2026, 2, 16}, {2026, 4, 3},   {2026, 5, 25},
            {2026, 6, 19}, {2026, 7, 3},  {2026, 9, 7},  {2026, 11, 26}, {2026, 12, 25},
            {2027, 1, 1},  {2027, 1, 18}, {2027, 2, 15}, {2027, 3, 26},  {2027, 5, 31},
            {2027, 6, 18}, {2027, 7, 5},  {2027, 9, 6},  {2027, 11, 25}, {2027, 12, 24},
        };
        const QList<QDate> earlyCloses{
            {2024, 7, 3},   {2024, 11, 29}, {2024, 12, 24}, {2025, 7, 3},   {2025, 11, 28},
            {2025, 12, 24}, {2026, 11, 27}, {2026, 12, 24}, {2027, 11, 26},
        };
        // Every weekday of the four years is checked, so no extra holiday slips in either.
        for (QDate d(2024, 1, 1); d <= QDate(2027, 12, 31); d = d.addDays(1)) {
            if (d.dayOfWeek() > 5) {
                QVERIFY(!nyse::isSessionOpen(d, 600));
                continue;
            }
            const bool holiday = holidays.contains(d);
            QVERIFY2(nyse::isHoliday(d) == holiday, qPrintable(d.toString(Qt::ISODate)));
            const bool early = earlyCloses.contains(d);
            QVERIFY2(nyse::earlyCloseMinutes(d).has_value() == early,
                     qPrintable(d.toString(Qt::ISODate)));
            QCOMPARE(nyse::isSessionOpen(d, 12 * 60 + 59), !holiday);
            QCOMPARE(nyse::isSessionOpen(d, 13 * 60), !holiday && !early);
            QCOMPARE(nyse::isSessionOpen(d, 15 * 60 + 59), !holiday && !early);
            QVERIFY(!nyse::isSessionOpen(d, 16 * 60));
            QVERIFY(!nyse::isSessionOpen(d, 9 * 60 + 29));
        }
        // New Year's Day 2028 is a Saturday: Friday 2027-12-31 trades as usual.
        QVERIFY(nyse::isSessionOpen(QDate(2027, 12, 31), 15 * 60));
        // Juneteenth is a holiday only from 2022.
        QVERIFY(!nyse::isHoliday(QDate(2021, 6, 18)));
        QVERIFY(nyse::isHoliday(QDate(2022, 6, 20)));
        QCOMPARE(nyse::easterSunday(2025), QDate(2025, 4, 20));
        QCOMPARE(nyse::easterSunday(2038), QDate(2038, 4, 25));
        // In New York time from any instant: Christmas Eve 2024 closes at 13:00 sharp.
        QVERIFY(AppState::isRegularSessionOpen(1735063199));  // 12:59:59
        QVERIFY(!AppState::isRegularSessionOpen(1735063200)); // 13:00
        QVERIFY(!AppState::isRegularSessionOpen(1735137000)); // Christmas, 09:30
    }

    void futuresShowOnAHoliday() {
        Rig rig(1735137000); // Christmas 2024, 09:30 in New York
        rig.source.answer(good({"AAPL"}));
        rig.prefs.setShowFuturesAfterHours(true);
        rig.clock.runDue();
        QVERIFY(rig.state->isAfterHours());
        QCOMPARE(rig.source.calls.last(), AppState::futuresSymbols());
    }
};

QTEST_GUILESS_MAIN(TestFeedHealth)
#include "tst_feedhealth.moc"
