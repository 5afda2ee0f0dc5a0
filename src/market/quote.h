#pragma once

#include "market/stock.h"

#include <QList>
#include <QString>

#include <optional>
#include <variant>

namespace velline {

// The chart feed's answer for one symbol, reduced to what the program uses.
struct Quote {
    QString symbol;             // the feed's own spelling, else the requested symbol
    double price = 0;           // last regular-market price
    double previousClose = 0;   // the close that changes are measured against
    double volume = 0;          // the day's volume so far; 0 when the feed gives none
    double avgVolume = 0;       // the feed carries none; always 0
    QList<PricePoint> intraday; // the day's bars, oldest first

    friend bool operator==(const Quote&, const Quote&) = default;
};

// Why fetching one symbol failed. Failures never leave the market layer as anything but
// fewer quotes; the kinds exist for tests and for the command-line tool.
enum class StockError {
    invalidURL,  // no request address could be built
    badResponse, // not an HTTP answer, or a status outside 200..299
    decoding,    // the body is not the feed's JSON shape (or is too large)
    noData,      // no result, or no regular-market price
    transport,   // network failure, time-out or cancellation
};

QString stockErrorName(StockError error);

struct QuoteFailure {
    StockError error = StockError::transport;
    QString detail;     // human-readable, may be empty
    int httpStatus = 0; // the answer's status when there was one
    // Seconds the answer asked the client to wait (its Retry-After), when it gave a usable one.
    std::optional<double> retryAfter;

    friend bool operator==(const QuoteFailure&, const QuoteFailure&) = default;
};

// Either a Quote or the reason there is none.
class QuoteResult {
public:
    QuoteResult(Quote quote) : m_value(std::move(quote)) {}
    QuoteResult(QuoteFailure failure) : m_value(std::move(failure)) {}
    QuoteResult(StockError error, QString detail = {})
        : m_value(QuoteFailure{error, std::move(detail), 0, std::nullopt}) {}

    bool ok() const { return std::holds_alternative<Quote>(m_value); }
    explicit operator bool() const { return ok(); }

    // Only valid when ok().
    const Quote& quote() const { return std::get<Quote>(m_value); }
    Quote& quote() { return std::get<Quote>(m_value); }
    // Only valid when !ok().
    const QuoteFailure& failure() const { return std::get<QuoteFailure>(m_value); }
    StockError error() const { return failure().error; }
    const QString& detail() const { return failure().detail; }

    // "noData no regularMarketPrice" style text for logs and the command-line tool.
    QString describe() const;

private:
    std::variant<Quote, QuoteFailure> m_value;
};

} // namespace velline
