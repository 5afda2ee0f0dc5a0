#include "market/sparkfeed.h"

#include "market/chartfeed.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace velline {

namespace {

std::optional<double> number(const QJsonObject& object, const char* key) {
    const QJsonValue value = object.value(QLatin1String(key));
    if (!value.isDouble() || !std::isfinite(value.toDouble()))
        return std::nullopt;
    return value.toDouble();
}

std::optional<double> lastClose(const QJsonValue& closes) {
    const QJsonArray list = closes.toArray();
    for (qsizetype i = list.size() - 1; i >= 0; --i) {
        if (list.at(i).isDouble() && std::isfinite(list.at(i).toDouble()) &&
            list.at(i).toDouble() > 0)
            return list.at(i).toDouble();
    }
    return std::nullopt;
}

// Reads one symbol's figures from a meta object (may be empty) and its closes.
std::optional<SparkQuote> readEntry(const QString& symbol, const QJsonObject& meta,
                                    const QJsonValue& closes, const QJsonObject& flat) {
    if (symbol.isEmpty())
        return std::nullopt;
    SparkQuote quote;
    quote.symbol = symbol;
    const std::optional<double> price = number(meta, "regularMarketPrice");
    if (price && *price > 0)
        quote.price = *price;
    else if (const auto close = lastClose(closes))
        quote.price = *close;
    else
        return std::nullopt;
    const QJsonObject& closeSource = meta.isEmpty() ? flat : meta;
    if (const auto previous = number(closeSource, "previousClose"); previous && *previous > 0)
        quote.previousClose = *previous;
    else if (const auto chart = number(closeSource, "chartPreviousClose"); chart && *chart > 0)
        quote.previousClose = *chart;
    if (const auto volume = number(meta, "regularMarketVolume"); volume && *volume >= 0)
        quote.volume = *volume;
    if (const auto time = number(meta, "regularMarketTime"); time && *time > 0 && *time < 1e11)
        quote.timeMs = static_cast<qint64>(*time) * 1000;
    return quote;
}

} // namespace

std::optional<QList<SparkQuote>> decodeSpark(const QByteArray& body, QString* error) {
    const auto fail = [error](const char* why) -> std::optional<QList<SparkQuote>> {
        if (error)
            *error = QString::fromLatin1(why);
        return std::nullopt;
    };
    QJsonParseError parse{};
    const QJsonDocument doc = QJsonDocument::fromJson(body, &parse);
    if (parse.error != QJsonParseError::NoError || !doc.isObject())
        return fail("not a JSON object");
    const QJsonObject root = doc.object();
    QList<SparkQuote> quotes;
    if (root.contains(QLatin1String("spark"))) {
        const QJsonValue result = root.value(QLatin1String("spark")).toObject().value("result");
        if (!result.isArray())
            return fail("spark.result: expected an array");
        for (const QJsonValue& item : result.toArray()) {
            const QJsonObject entry = item.toObject();
            const QJsonObject response = entry.value("response").toArray().first().toObject();
            const QJsonObject meta = response.value("meta").toObject();
            const QJsonValue closes = response.value("indicators")
                                          .toObject()
                                          .value("quote")
                                          .toArray()
                                          .first()
                                          .toObject()
                                          .value("close");
            QString symbol = entry.value("symbol").toString();
            if (symbol.isEmpty())
                symbol = meta.value("symbol").toString();
            if (const auto quote = readEntry(symbol, meta, closes, {}))
                quotes.append(*quote);
        }
        return quotes;
    }
    // The flat shape: every member is one symbol.
    for (auto it = root.constBegin(); it != root.constEnd(); ++it) {
        if (!it.value().isObject())
            return fail("expected an object per symbol");
        const QJsonObject entry = it.value().toObject();
        const QString symbol =
            entry.value("symbol").isString() ? entry.value("symbol").toString() : it.key();
        if (const auto quote = readEntry(symbol, {}, entry.value("close"), entry))
            quotes.append(*quote);
    }
    return quotes;
}

QUrl sparkUrl(const QUrl& base, const QStringList& symbols) {
    QString text = feedBaseText(base);
    if (symbols.isEmpty() || text.isEmpty())
        return QUrl();
    QStringList encoded;
    for (const QString& symbol : symbols)
        encoded << QString::fromLatin1(QUrl::toPercentEncoding(symbol));
    text += QStringLiteral("/v7/finance/spark?symbols=") + encoded.join(QLatin1Char(',')) +
            QStringLiteral("&range=1d&interval=5m");
    return QUrl(text, QUrl::StrictMode);
}

} // namespace velline
