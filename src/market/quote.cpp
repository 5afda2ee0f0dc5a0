#include "market/quote.h"

namespace velline {

QString stockErrorName(StockError error) {
    switch (error) {
    case StockError::invalidURL:
        return QStringLiteral("invalidURL");
    case StockError::badResponse:
        return QStringLiteral("badResponse");
    case StockError::decoding:
        return QStringLiteral("decoding");
    case StockError::noData:
        return QStringLiteral("noData");
    case StockError::transport:
        break;
    }
    return QStringLiteral("transport");
}

QString QuoteResult::describe() const {
    if (ok())
        return QStringLiteral("ok");
    const QString name = stockErrorName(error());
    return detail().isEmpty() ? name : name + QLatin1Char(' ') + detail();
}

} // namespace velline
