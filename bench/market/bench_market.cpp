// Decoding a day of 5-minute bars and reading the derived values of a Stock, the two things
// every refresh and every redraw do.
#include "feedsim/simulatedmarket.h"
#include "market/chartfeed.h"
#include "market/stock.h"

#include <QFile>

#include <benchmark/benchmark.h>

using namespace velline;

namespace {

// One full day of 78 five-minute bars in the feed's shape, always the same bytes.
const QByteArray& simulatedDay() {
    static const QByteArray body =
        SimulatedMarket().chartAnswer(QStringLiteral("AAPL"), 1'750'000'000.0);
    return body;
}

Stock stockWithBars() {
    const QuoteResult r = decodeQuote(simulatedDay(), QStringLiteral("AAPL"));
    Stock s;
    s.symbol = r.quote().symbol;
    s.price = r.quote().price;
    s.previousClose = r.quote().previousClose;
    s.intraday = r.quote().intraday;
    // A full history: one sample per 2-second refresh over 1200 seconds.
    for (int i = 0; i < 600; ++i)
        s.history.append({1'750'000'000.0 - 1200 + i * 2, s.price * (1 + 0.0001 * (i % 7)), 0});
    s.lastSpikeAt = 1'750'000'000.0;
    return s;
}

void decodeSimulatedDay(benchmark::State& state) {
    const QByteArray& body = simulatedDay();
    for (auto _ : state) {
        QuoteResult r = decodeQuote(body, QStringLiteral("AAPL"));
        benchmark::DoNotOptimize(r);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * body.size());
    state.counters["bars"] =
        static_cast<double>(decodeQuote(body, QStringLiteral("AAPL")).quote().intraday.size());
}
BENCHMARK(decodeSimulatedDay);

void decodeRecordedSession(benchmark::State& state) {
    QFile f(QStringLiteral(VELLINE_FIXTURES_DIR "/chart/aapl-1m-20241002-full-session.json"));
    if (!f.open(QIODevice::ReadOnly)) {
        state.SkipWithError("recorded answer not found");
        return;
    }
    const QByteArray body = f.readAll();
    for (auto _ : state) {
        QuoteResult r = decodeQuote(body, QStringLiteral("AAPL"));
        benchmark::DoNotOptimize(r);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * body.size());
}
BENCHMARK(decodeRecordedSession);

void derivedValuesAll(benchmark::State& state) {
    const Stock s = stockWithBars();
    for (auto _ : state) {
        benchmark::DoNotOptimize(s.changePercent());
        benchmark::DoNotOptimize(s.direction());
        benchmark::DoNotOptimize(s.isSpiking(1'750'000'002.0));
        benchmark::DoNotOptimize(s.windowChangePercent());
        benchmark::DoNotOptimize(s.tickChangePercent());
        benchmark::DoNotOptimize(s.volumeRatio());
        QString text = s.percentText();
        benchmark::DoNotOptimize(text);
        QList<int> spikes = s.spikeIndices();
        benchmark::DoNotOptimize(spikes);
    }
}
BENCHMARK(derivedValuesAll);

void percentText(benchmark::State& state) {
    const Stock s = stockWithBars();
    for (auto _ : state) {
        QString text = s.percentText();
        benchmark::DoNotOptimize(text);
    }
}
BENCHMARK(percentText);

void windowChangePercent(benchmark::State& state) {
    const Stock s = stockWithBars();
    for (auto _ : state)
        benchmark::DoNotOptimize(s.windowChangePercent());
}
BENCHMARK(windowChangePercent);

void volumeRatio(benchmark::State& state) {
    const Stock s = stockWithBars();
    for (auto _ : state)
        benchmark::DoNotOptimize(s.volumeRatio());
}
BENCHMARK(volumeRatio);

void spikeIndices(benchmark::State& state) {
    const Stock s = stockWithBars();
    for (auto _ : state) {
        QList<int> spikes = s.spikeIndices();
        benchmark::DoNotOptimize(spikes);
    }
    state.counters["spikes"] = static_cast<double>(s.spikeIndices().size());
}
BENCHMARK(spikeIndices);

} // namespace

BENCHMARK_MAIN();
