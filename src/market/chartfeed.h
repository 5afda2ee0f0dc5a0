#pragma once

#include "market/quote.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

namespace velline {

// The chart feed's JSON answer, decoded strictly by key name. An absent key and an explicit
// null both read as absent; a missing required key or a value of the wrong JSON type makes the
// whole body undecodable. Keys not listed here are ignored.
struct YahooChartResponse {
    struct Meta {
        std::optional<QString> symbol;
        std::optional<double> regularMarketPrice;
        std::optional<double> previousClose;
        std::optional<double> chartPreviousClose;
        std::optional<double> regularMarketVolume;
    };
    struct QuoteSeries {
        std::optional<QList<std::optional<double>>> close;
        std::optional<QList<std::optional<qint64>>> volume;
    };
    struct Indicators {
        QList<QuoteSeries> quote; // required when indicators is present
    };
    struct Result {
        Meta meta; // required
        std::optional<QList<qint64>> timestamp;
        std::optional<Indicators> indicators;
    };
    struct Error {
        std::optional<QString> code;
        std::optional<QString> description;
    };
    struct Chart {
        std::optional<QList<Result>> result;
        std::optional<Error> error;
    };

    Chart chart; // required

    // The decoded answer, or nothing with a short reason in `error` (a JSON path and what
    // was wrong there).
    static std::optional<YahooChartResponse> decode(const QByteArray& body,
                                                    QString* error = nullptr);
};

// The quote an answer describes, or noData when it has no result or no price.
QuoteResult quoteFromResponse(const YahooChartResponse& response, const QString& requestedSymbol);
// decode + quoteFromResponse; undecodable (or over-large) bodies fail with `decoding`.
QuoteResult decodeQuote(const QByteArray& body, const QString& requestedSymbol,
                        qint64 maxBytes = 4 * 1024 * 1024);

// The symbol percent-encoded as one URL path segment: everything outside the RFC 3986
// segment set (unreserved, sub-delimiters, ':', '@') is encoded as UTF-8 bytes, '/' included.
QString encodeSymbolForPath(const QString& symbol);
// "." and "..": a URL cannot carry them as a literal segment (URL libraries, Qt's among them,
// decode "%2E" and then resolve dot segments), so no request is made for them.
bool isDotSegment(const QString& symbol);
// base + "/v8/finance/chart/" + encoded symbol + "?interval=5m&range=1d"; an invalid URL when
// the base is not an http(s) address with a host, or the symbol is a dot segment.
// The feed's base address as text without trailing slashes; empty unless it is an http(s)
// address with a host and no query or fragment.
QString feedBaseText(const QUrl& base);
QUrl chartUrl(const QUrl& base, const QString& symbol);

} // namespace velline
