// Chart feed answers: the strict decoder and the quote built from it.
#include "market/chartfeed.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray body =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const velline::QuoteResult result = velline::decodeQuote(body, QStringLiteral("AAPL"));
    if (result.ok()) {
        const velline::Quote& quote = result.quote();
        // Bars come from whole-second timestamps and numeric closes only.
        for (const velline::PricePoint& p : quote.intraday)
            if (std::isnan(p.price) || std::isnan(p.volume) || std::trunc(p.time) != p.time)
                std::abort();
    }
    return 0;
}
