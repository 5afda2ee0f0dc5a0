#include "market/chartfeed.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <cmath>

namespace velline {

namespace {

// Thrown inside the decoder only; decode() turns it into a message.
struct DecodeError {
    QString message;
};

[[noreturn]] void fail(const QString& path, const char* what) {
    throw DecodeError{path + QStringLiteral(": ") + QLatin1String(what)};
}

// Null and absent are the same thing.
std::optional<QJsonValue> optionalMember(const QJsonObject& object, const char* key) {
    const auto it = object.constFind(QLatin1String(key));
    if (it == object.constEnd() || it->isNull())
        return std::nullopt;
    return *it;
}

QJsonValue requiredMember(const QJsonObject& object, const char* key, const QString& path) {
    auto value = optionalMember(object, key);
    if (!value)
        fail(path + QLatin1Char('.') + QLatin1String(key), "required key missing");
    return *value;
}

QJsonObject asObject(const QJsonValue& value, const QString& path) {
    if (!value.isObject())
        fail(path, "expected an object");
    return value.toObject();
}

QJsonArray asArray(const QJsonValue& value, const QString& path) {
    if (!value.isArray())
        fail(path, "expected an array");
    return value.toArray();
}

double asNumber(const QJsonValue& value, const QString& path) {
    if (!value.isDouble())
        fail(path, "expected a number");
    return value.toDouble();
}

// QJsonValue keeps every number as a double, so "3" and "3.0" cannot be told apart after
// parsing. An integer is a number with no fractional part inside the 64-bit range.
qint64 asInteger(const QJsonValue& value, const QString& path) {
    const double d = asNumber(value, path);
    // 2^63 is exactly representable; everything below it converts without overflow.
    constexpr double limit = 9223372036854775808.0;
    if (!std::isfinite(d) || std::trunc(d) != d || d < -limit || d >= limit)
        fail(path, "expected an integer");
    return static_cast<qint64>(d);
}

QString asString(const QJsonValue& value, const QString& path) {
    if (!value.isString())
        fail(path, "expected a string");
    return value.toString();
}

template <typename T, typename F>
std::optional<T> optionalField(const QJsonObject& object, const char* key, const QString& path,
                               F convert) {
    const auto value = optionalMember(object, key);
    if (!value)
        return std::nullopt;
    return convert(*value, path + QLatin1Char('.') + QLatin1String(key));
}

QString indexed(const QString& path, qsizetype i) {
    return path + QLatin1Char('[') + QString::number(i) + QLatin1Char(']');
}

YahooChartResponse::QuoteSeries decodeSeries(const QJsonObject& object, const QString& path) {
    YahooChartResponse::QuoteSeries series;
    if (const auto close = optionalMember(object, "close")) {
        const QString at = path + QStringLiteral(".close");
        const QJsonArray array = asArray(*close, at);
        QList<std::optional<double>> values;
        values.reserve(array.size());
        for (qsizetype i = 0; i < array.size(); ++i) {
            const QJsonValue v = array.at(i);
            values.append(v.isNull() ? std::nullopt
                                     : std::optional<double>(asNumber(v, indexed(at, i))));
        }
        series.close = std::move(values);
    }
    if (const auto volume = optionalMember(object, "volume")) {
        const QString at = path + QStringLiteral(".volume");
        const QJsonArray array = asArray(*volume, at);
        QList<std::optional<qint64>> values;
        values.reserve(array.size());
        for (qsizetype i = 0; i < array.size(); ++i) {
            const QJsonValue v = array.at(i);
            values.append(v.isNull() ? std::nullopt
                                     : std::optional<qint64>(asInteger(v, indexed(at, i))));
        }
        series.volume = std::move(values);
    }
    return series;
}

YahooChartResponse::Result decodeResult(const QJsonObject& object, const QString& path) {
    YahooChartResponse::Result result;
    const QString metaPath = path + QStringLiteral(".meta");
    const QJsonObject meta = asObject(requiredMember(object, "meta", path), metaPath);
    result.meta.symbol = optionalField<QString>(meta, "symbol", metaPath, asString);
    result.meta.regularMarketPrice =
        optionalField<double>(meta, "regularMarketPrice", metaPath, asNumber);
    result.meta.previousClose = optionalField<double>(meta, "previousClose", metaPath, asNumber);
    result.meta.chartPreviousClose =
        optionalField<double>(meta, "chartPreviousClose", metaPath, asNumber);
    result.meta.regularMarketVolume =
        optionalField<double>(meta, "regularMarketVolume", metaPath, asNumber);

    if (const auto timestamp = optionalMember(object, "timestamp")) {
        const QString at = path + QStringLiteral(".timestamp");
        const QJsonArray array = asArray(*timestamp, at);
        QList<qint64> values;
        values.reserve(array.size());
        for (qsizetype i = 0; i < array.size(); ++i)
            values.append(asInteger(array.at(i), indexed(at, i))); // null is not an integer
        result.timestamp = std::move(values);
    }

    if (const auto indicators = optionalMember(object, "indicators")) {
        const QString at = path + QStringLiteral(".indicators");
        const QJsonObject ind = asObject(*indicators, at);
        const QString quotePath = at + QStringLiteral(".quote");
        const QJsonArray quote = asArray(requiredMember(ind, "quote", at), quotePath);
        YahooChartResponse::Indicators decoded;
        decoded.quote.reserve(quote.size());
        for (qsizetype i = 0; i < quote.size(); ++i) {
            const QString seriesPath = indexed(quotePath, i);
            decoded.quote.append(decodeSeries(asObject(quote.at(i), seriesPath), seriesPath));
        }
        result.indicators = std::move(decoded);
    }
    return result;
}

YahooChartResponse decodeRoot(const QJsonObject& root) {
    YahooChartResponse response;
    const QString chartPath = QStringLiteral("chart");
    const QJsonObject chart = asObject(requiredMember(root, "chart", QString()), chartPath);
    if (const auto result = optionalMember(chart, "result")) {
        const QString at = QStringLiteral("chart.result");
        const QJsonArray array = asArray(*result, at);
        QList<YahooChartResponse::Result> results;
        results.reserve(array.size());
        for (qsizetype i = 0; i < array.size(); ++i)
            results.append(decodeResult(asObject(array.at(i), indexed(at, i)), indexed(at, i)));
        response.chart.result = std::move(results);
    }
    if (const auto error = optionalMember(chart, "error")) {
        const QString at = QStringLiteral("chart.error");
        const QJsonObject object = asObject(*error, at);
        YahooChartResponse::Error decoded;
        decoded.code = optionalField<QString>(object, "code", at, asString);
        decoded.description = optionalField<QString>(object, "description", at, asString);
        response.chart.error = std::move(decoded);
    }
    return response;
}

} // namespace

std::optional<YahooChartResponse> YahooChartResponse::decode(const QByteArray& body,
                                                             QString* error) {
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        if (error)
            *error = QStringLiteral("invalid JSON at offset %1: %2")
                         .arg(parseError.offset)
                         .arg(parseError.errorString());
        return std::nullopt;
    }
    if (!document.isObject()) {
        if (error)
            *error = QStringLiteral("expected a JSON object");
        return std::nullopt;
    }
    try {
        return decodeRoot(document.object());
    } catch (const DecodeError& e) {
        if (error)
            *error = e.message.startsWith(QLatin1Char('.')) ? e.message.mid(1) : e.message;
        return std::nullopt;
    }
}

QuoteResult quoteFromResponse(const YahooChartResponse& response, const QString& requestedSymbol) {
    const auto& results = response.chart.result;
    if (!results || results->isEmpty()) {
        QString detail = QStringLiteral("no result");
        if (response.chart.error && response.chart.error->description)
            detail += QStringLiteral(": ") + *response.chart.error->description;
        return QuoteResult(StockError::noData, detail);
    }
    const YahooChartResponse::Result& r = results->first();
    if (!r.meta.regularMarketPrice)
        return QuoteResult(StockError::noData, QStringLiteral("no regularMarketPrice"));

    Quote quote;
    quote.symbol = r.meta.symbol.value_or(requestedSymbol);
    quote.price = *r.meta.regularMarketPrice;
    // The chart's own previous close wins over the meta one.
    quote.previousClose =
        r.meta.chartPreviousClose.value_or(r.meta.previousClose.value_or(quote.price));
    quote.volume = r.meta.regularMarketVolume.value_or(0);
    quote.avgVolume = 0;

    if (r.timestamp && r.indicators && !r.indicators->quote.isEmpty() &&
        r.indicators->quote.first().close) {
        const auto& series = r.indicators->quote.first();
        const auto& closes = *series.close;
        static const QList<std::optional<qint64>> noVolumes;
        const auto& volumes = series.volume ? *series.volume : noVolumes;
        const auto& times = *r.timestamp;
        quote.intraday.reserve(std::min(times.size(), closes.size()));
        for (qsizetype i = 0; i < times.size(); ++i) {
            if (i >= closes.size() || !closes[i])
                continue;
            const double volume =
                i < volumes.size() && volumes[i] ? static_cast<double>(*volumes[i]) : 0.0;
            quote.intraday.append(PricePoint{static_cast<double>(times[i]), *closes[i], volume});
        }
    }
    return quote;
}

QuoteResult decodeQuote(const QByteArray& body, const QString& requestedSymbol, qint64 maxBytes) {
    if (body.size() > maxBytes)
        return QuoteResult(StockError::decoding,
                           QStringLiteral("answer larger than %1 bytes").arg(maxBytes));
    QString error;
    const auto response = YahooChartResponse::decode(body, &error);
    if (!response)
        return QuoteResult(StockError::decoding, error);
    return quoteFromResponse(*response, requestedSymbol);
}

QString encodeSymbolForPath(const QString& symbol) {
    // Unreserved and ALPHA/DIGIT are always kept by toPercentEncoding; add the sub-delimiters,
    // ':' and '@'. A '/' is encoded, so the symbol stays one path segment.
    return QString::fromLatin1(QUrl::toPercentEncoding(symbol, QByteArrayLiteral("!$&'()*+,;=:@")));
}

bool isDotSegment(const QString& symbol) {
    return symbol == QLatin1String(".") || symbol == QLatin1String("..");
}

QString feedBaseText(const QUrl& base) {
    if (!base.isValid() || base.host().isEmpty() ||
        (base.scheme() != QLatin1String("https") && base.scheme() != QLatin1String("http")) ||
        base.hasQuery() || base.hasFragment())
        return QString();
    QString text = base.toString(QUrl::FullyEncoded);
    while (text.endsWith(QLatin1Char('/')))
        text.chop(1);
    return text;
}

QUrl chartUrl(const QUrl& base, const QString& symbol) {
    QString text = feedBaseText(base);
    if (isDotSegment(symbol) || text.isEmpty())
        return QUrl();
    text += QStringLiteral("/v8/finance/chart/") + encodeSymbolForPath(symbol) +
            QStringLiteral("?interval=5m&range=1d");
    return QUrl(text, QUrl::StrictMode);
}

} // namespace velline
