// Streamer frames: the envelope, base64 and the protocol-buffer record behind it.
#include "market/streamwire.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace {

void check(const std::optional<velline::StreamTick>& tick) {
    if (!tick)
        return;
    const velline::StreamTick& t = *tick;
    // A decoded record always names its symbol and carries finite numbers only.
    if (t.symbol.trimmed().isEmpty())
        std::abort();
    for (double v :
         {t.price, t.change, t.changePercent, t.dayHigh, t.dayLow, t.openPrice, t.previousClose})
        if (!std::isfinite(v))
            std::abort();
    if (t.priceHint < -1 || t.priceHint > 12)
        std::abort();
    // What was read can be written and read again, whole numbers and texts unchanged.
    const std::optional<velline::StreamTick> again =
        velline::decodePricingData(velline::encodePricingData(t));
    if (!again || again->symbol != t.symbol || again->timeMs != t.timeMs ||
        again->dayVolume != t.dayVolume || again->shortName != t.shortName ||
        again->priceHint != t.priceHint || again->quoteType != t.quoteType)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    check(velline::decodeStreamFrame(bytes));
    check(velline::decodePricingData(bytes));
    return 0;
}
