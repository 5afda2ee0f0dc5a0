// The stored JSON forms the preference store reads back: alerts, holdings, the colour scheme.
// Whatever decodes must encode again and decode to the same value, or a stored list could
// change (or vanish) on its next write.
#include "prefs/records.h"

#include <QJsonDocument>

#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace {

QJsonValue parsed(const QByteArray& bytes) {
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError)
        return QJsonValue(QJsonValue::Undefined);
    return doc.isArray() ? QJsonValue(doc.array()) : QJsonValue(doc.object());
}

QByteArray bytesOf(const QJsonValue& value) {
    return value.isArray() ? QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact)
                           : QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact);
}

// Stored dates count from 2001 and are shifted to 1970 when read, so an alert's trigger time
// may move by a rounding step on the way; everything else must come back exactly.
bool sameInstant(const std::optional<double>& a, const std::optional<double>& b) {
    if (a.has_value() != b.has_value())
        return false;
    return !a || std::fabs(*a - *b) <= 1e-6 + 1e-12 * std::fabs(*a);
}

bool same(const QList<velline::PriceAlert>& a, const QList<velline::PriceAlert>& b) {
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (a[i].id != b[i].id || a[i].symbol != b[i].symbol || a[i].price != b[i].price ||
            a[i].direction != b[i].direction ||
            !sameInstant(a[i].lastTriggered, b[i].lastTriggered))
            return false;
    }
    return true;
}

template <typename T> bool same(const T& a, const T& b) {
    return a == b;
}

template <typename T, typename Decode, typename Encode>
void roundTrip(const QJsonValue& value, Decode decode, Encode encode) {
    const std::optional<T> first = decode(value);
    if (!first)
        return;
    const auto json = encode(*first);
    if (!json)
        std::abort(); // decodable but not storable
    const std::optional<T> second = decode(parsed(bytesOf(QJsonValue(*json))));
    if (!second || !same(*first, *second))
        std::abort(); // stored and read back as something else
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QJsonValue value = parsed(bytes);
    if (value.isUndefined())
        return 0;
    roundTrip<QList<velline::PriceAlert>>(value, velline::decodePriceAlerts,
                                          velline::encodePriceAlerts);
    roundTrip<QList<velline::Holding>>(value, velline::decodeHoldings, velline::encodeHoldings);
    roundTrip<velline::ColorSchemePrefs>(
        value, velline::ColorSchemePrefs::fromJson,
        [](const velline::ColorSchemePrefs& scheme) { return scheme.toJson(); });
    return 0;
}
