// Cost of one merge at full load: ten symbols, each with a full 1200-second history (one
// sample per two seconds) and a day of 5-minute bars, alert and spike checks included.
#include "clock/manualclock.h"
#include "prefs/userpreferences.h"
#include "state/appstate.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

using namespace velline;

namespace {

class NoSource : public QuoteSource {
public:
    void fetchQuotes(const QStringList&, QObject*, std::function<void(QList<Quote>)>) override {}
};

void mergeTenFullRecords(benchmark::State& run) {
    QTemporaryDir dir;
    QSettings settings(dir.filePath(QStringLiteral("v.conf")), QSettings::IniFormat);
    UserPreferences prefs(&settings);
    prefs.setShowFuturesAfterHours(false);
    for (const QString& symbol : prefs.trackedSymbols())
        prefs.addAlert(symbol, 1000, PriceAlert::Direction::above);
    NoSource source;
    ManualClock clock(1704898800);
    AppState state(&prefs, &source, &clock, {});

    QList<PricePoint> bars;
    for (int i = 0; i < 78; ++i)
        bars.append({1704898800.0 - 300.0 * (78 - i), 100.0 + (i % 5) * 0.1, 1000.0});
    QList<Quote> quotes;
    for (const QString& symbol : prefs.trackedSymbols())
        quotes.append({symbol, 100.0, 100.0, 1e6, 0, bars});
    for (int i = 0; i < 600; ++i) { // fill the history window
        clock.advance(2);
        state.apply(quotes);
    }
    for (auto _ : run) {
        clock.advance(2);
        state.apply(quotes);
    }
}
BENCHMARK(mergeTenFullRecords);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
