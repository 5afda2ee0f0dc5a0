#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

namespace velline {

// One symbol of the multi-symbol price answer: its price and day figures, without bars.
struct SparkQuote {
    QString symbol;
    double price = 0;         // the meta's regularMarketPrice, else the last non-null close
    double previousClose = 0; // previousClose, else chartPreviousClose; 0 when neither
    double volume = 0;        // regularMarketVolume; 0 when absent
    qint64 timeMs = 0;        // regularMarketTime in ms; 0 when absent

    friend bool operator==(const SparkQuote&, const SparkQuote&) = default;
};

// Both answer shapes of the multi-symbol endpoint: the chart-like envelope
// {"spark":{"result":[{"symbol":..,"response":[{"meta":{..},"timestamp":[..],
// "indicators":{"quote":[{"close":[..]}]}}]}]}} and the flat object keyed by symbol
// {"AAPL":{"symbol":..,"close":[..],"chartPreviousClose":..}}. Entries that carry no price or
// have a value of the wrong type are left out; a body that is neither shape is undecodable
// (nothing, with the reason in `error`).
std::optional<QList<SparkQuote>> decodeSpark(const QByteArray& body, QString* error = nullptr);

// base + "/v7/finance/spark?symbols=A,B&range=1d&interval=5m", every symbol percent-encoded;
// an invalid URL for a base that chartUrl() would refuse or an empty list.
QUrl sparkUrl(const QUrl& base, const QStringList& symbols);

} // namespace velline
