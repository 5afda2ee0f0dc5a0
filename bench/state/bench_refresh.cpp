// One refresh of ten symbols as the running program does it every two seconds: decode the ten
// chart answers, merge them into records with a full history (alert and spike checks
// included), and publish the result to the compact views' and the card's models.
#include "clock/manualclock.h"
#include "feedsim/simulatedmarket.h"
#include "market/chartfeed.h"
#include "notch/compactviewmodel.h"
#include "notch/expandedcardmodel.h"
#include "prefs/userpreferences.h"
#include "state/appstate.h"

#include <QGuiApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

using namespace velline;

namespace {

class NoSource : public QuoteSource {
public:
    void fetchQuotes(const QStringList&, QObject*, std::function<void(QList<Quote>)>) override {}
};

constexpr double start = 1'750'075'200.0; // 12:00 UTC: a day of bars behind every symbol

void refreshTenSymbols(benchmark::State& run) {
    QTemporaryDir dir;
    QSettings settings(dir.filePath(QStringLiteral("v.conf")), QSettings::IniFormat);
    UserPreferences prefs(&settings);
    prefs.setShowFuturesAfterHours(false);
    const QStringList symbols = prefs.trackedSymbols();
    for (const QString& symbol : symbols)
        prefs.addAlert(symbol, 1e6, PriceAlert::Direction::above);
    NoSource source;
    ManualClock clock(start);
    AppState state(&prefs, &source, &clock, {});

    // The answers of a few minutes of refreshes, made before timing starts.
    const SimulatedMarket market;
    QList<QList<QByteArray>> answers;
    for (int tick = 0; tick < 64; ++tick) {
        QList<QByteArray> round;
        for (const QString& symbol : symbols)
            round.append(market.chartAnswer(symbol, start + 2.0 * tick));
        answers.append(round);
    }
    const auto refresh = [&](int tick) {
        QList<Quote> quotes;
        const QList<QByteArray>& round = answers.at(tick % answers.size());
        for (qsizetype i = 0; i < symbols.size(); ++i) {
            const QuoteResult r = decodeQuote(round.at(i), symbols.at(i));
            if (r.ok())
                quotes.append(r.quote());
        }
        clock.advance(2);
        state.apply(quotes);
    };

    // The views: two compact sides (each an outer model and the one of its content) and the
    // open card, fed the way their bindings feed them.
    CompactViewModel compact[4] = {
        CompactViewModel(&clock, nullptr), CompactViewModel(&clock, nullptr),
        CompactViewModel(&clock, nullptr), CompactViewModel(&clock, nullptr)};
    ExpandedCardModel card(&clock, nullptr);
    QObject::connect(&state, &AppState::activeStockChanged, [&] {
        for (CompactViewModel& model : compact)
            model.setStock(state.activeStock());
    });
    QObject::connect(&state, &AppState::stocksChanged, [&] { card.setStocks(state.stocks()); });

    // Refreshes before timing: 600 fill the 20-minute history window; more must cost the same,
    // since the history and the spike scans do not grow with how long the program has run.
    int tick = 0;
    for (int64_t i = 0; i < run.range(0); ++i)
        refresh(tick++);
    for (auto _ : run)
        refresh(tick++);
}
BENCHMARK(refreshTenSymbols)->Arg(600)->Arg(5400)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
