#include "prefs/records.h"

#include <QHashFunctions>

#include <cmath>

namespace velline {

namespace {

// A required number: present, a JSON number and finite.
std::optional<double> finiteNumber(const QJsonObject& object, QLatin1StringView key) {
    const QJsonValue v = object.value(key);
    if (!v.isDouble())
        return std::nullopt;
    const double d = v.toDouble();
    if (!std::isfinite(d))
        return std::nullopt;
    return d;
}

std::optional<QString> requiredString(const QJsonObject& object, QLatin1StringView key) {
    const QJsonValue v = object.value(key);
    if (!v.isString())
        return std::nullopt;
    return v.toString();
}

// An absent key and a JSON null both mean "not there".
bool isAbsent(const QJsonObject& object, QLatin1StringView key) {
    const QJsonValue v = object.value(key);
    return v.isUndefined() || v.isNull();
}

// The 36-character hyphenated form only (either case); braces or other lengths are refused.
std::optional<QUuid> uuidFromText(const QString& text) {
    if (text.size() != 36)
        return std::nullopt;
    const QUuid id = QUuid::fromString(text);
    if (id.isNull() && text != QLatin1String("00000000-0000-0000-0000-000000000000"))
        return std::nullopt;
    return id;
}

template <typename T> std::optional<QJsonArray> encodeList(const QList<T>& items) {
    QJsonArray array;
    for (const T& item : items) {
        const auto json = item.toJson();
        if (!json)
            return std::nullopt;
        array.append(*json);
    }
    return array;
}

template <typename T> std::optional<QList<T>> decodeList(const QJsonValue& value) {
    if (!value.isArray())
        return std::nullopt;
    const QJsonArray array = value.toArray();
    QList<T> items;
    items.reserve(array.size());
    for (const QJsonValue& element : array) {
        auto item = T::fromJson(element);
        if (!item)
            return std::nullopt;
        items.append(std::move(*item));
    }
    return items;
}

const QLatin1StringView kRed("red"), kGreen("green"), kBlue("blue");
const QLatin1StringView kEquityUp("equityUp"), kEquityDown("equityDown"), kFuturesUp("futuresUp"),
    kFuturesDown("futuresDown");
const QLatin1StringView kId("id"), kSymbol("symbol"), kPrice("price"), kDirection("direction"),
    kLastTriggered("lastTriggered"), kShares("shares");

} // namespace

// RGBColor

std::optional<QJsonObject> RGBColor::toJson() const {
    if (!std::isfinite(red) || !std::isfinite(green) || !std::isfinite(blue))
        return std::nullopt;
    return QJsonObject{{kRed, red}, {kGreen, green}, {kBlue, blue}};
}

std::optional<RGBColor> RGBColor::fromJson(const QJsonValue& value) {
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject o = value.toObject();
    const auto r = finiteNumber(o, kRed);
    const auto g = finiteNumber(o, kGreen);
    const auto b = finiteNumber(o, kBlue);
    if (!r || !g || !b)
        return std::nullopt;
    return RGBColor{*r, *g, *b};
}

size_t qHash(const RGBColor& color, size_t seed) noexcept {
    return qHashMulti(seed, color.red, color.green, color.blue);
}

// ColorSchemePrefs

std::optional<QJsonObject> ColorSchemePrefs::toJson() const {
    QJsonObject o;
    const std::pair<QLatin1StringView, const std::optional<RGBColor>*> fields[] = {
        {kEquityUp, &equityUp},
        {kEquityDown, &equityDown},
        {kFuturesUp, &futuresUp},
        {kFuturesDown, &futuresDown}};
    for (const auto& [key, color] : fields) {
        if (!color->has_value())
            continue;
        const auto json = (*color)->toJson();
        if (!json)
            return std::nullopt;
        o.insert(key, *json);
    }
    return o;
}

std::optional<ColorSchemePrefs> ColorSchemePrefs::fromJson(const QJsonValue& value) {
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject o = value.toObject();
    ColorSchemePrefs scheme;
    const std::pair<QLatin1StringView, std::optional<RGBColor>*> fields[] = {
        {kEquityUp, &scheme.equityUp},
        {kEquityDown, &scheme.equityDown},
        {kFuturesUp, &scheme.futuresUp},
        {kFuturesDown, &scheme.futuresDown}};
    for (const auto& [key, color] : fields) {
        if (isAbsent(o, key))
            continue;
        const auto decoded = RGBColor::fromJson(o.value(key));
        if (!decoded)
            return std::nullopt;
        *color = *decoded;
    }
    return scheme;
}

// PriceAlert

QString PriceAlert::idText() const {
    return id.toString(QUuid::WithoutBraces).toUpper();
}

QVariant PriceAlert::lastTriggeredValue() const {
    return lastTriggered ? QVariant(*lastTriggered) : QVariant();
}

QString PriceAlert::rawValue(Direction direction) {
    return direction == Direction::above ? QStringLiteral("above") : QStringLiteral("below");
}

std::optional<PriceAlert::Direction> PriceAlert::directionFromRawValue(const QString& raw) {
    for (Direction d : allDirections) {
        if (rawValue(d) == raw)
            return d;
    }
    return std::nullopt;
}

std::optional<QJsonObject> PriceAlert::toJson() const {
    if (!std::isfinite(price) || (lastTriggered && !std::isfinite(*lastTriggered)))
        return std::nullopt;
    QJsonObject o{
        {kId, idText()}, {kSymbol, symbol}, {kPrice, price}, {kDirection, rawValue(direction)}};
    if (lastTriggered)
        o.insert(kLastTriggered, *lastTriggered - kStoredDateOffset);
    return o;
}

std::optional<PriceAlert> PriceAlert::fromJson(const QJsonValue& value) {
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject o = value.toObject();
    const auto idString = requiredString(o, kId);
    const auto id = idString ? uuidFromText(*idString) : std::nullopt;
    const auto symbol = requiredString(o, kSymbol);
    const auto price = finiteNumber(o, kPrice);
    const auto directionText = requiredString(o, kDirection);
    const auto direction = directionText ? directionFromRawValue(*directionText) : std::nullopt;
    if (!id || !symbol || !price || !direction)
        return std::nullopt;
    PriceAlert alert{*id, *symbol, *price, *direction, std::nullopt};
    if (!isAbsent(o, kLastTriggered)) {
        const auto stored = finiteNumber(o, kLastTriggered);
        if (!stored)
            return std::nullopt;
        alert.lastTriggered = *stored + kStoredDateOffset;
    }
    return alert;
}

// Holding

std::optional<QJsonObject> Holding::toJson() const {
    if (!std::isfinite(shares))
        return std::nullopt;
    return QJsonObject{{kSymbol, symbol}, {kShares, shares}};
}

std::optional<Holding> Holding::fromJson(const QJsonValue& value) {
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject o = value.toObject();
    const auto symbol = requiredString(o, kSymbol);
    const auto shares = finiteNumber(o, kShares);
    if (!symbol || !shares)
        return std::nullopt;
    return Holding{*symbol, *shares};
}

// DisplayMode

QString rawValue(DisplayMode mode) {
    switch (mode) {
    case DisplayMode::regular:
        return QStringLiteral("regular");
    case DisplayMode::compact:
        return QStringLiteral("compact");
    case DisplayMode::compactLogo:
        return QStringLiteral("compact2");
    case DisplayMode::doNotDisturb:
        return QStringLiteral("doNotDisturb");
    }
    return QStringLiteral("regular");
}

std::optional<DisplayMode> displayModeFromRawValue(const QString& raw) {
    for (DisplayMode mode : allDisplayModes) {
        if (rawValue(mode) == raw)
            return mode;
    }
    return std::nullopt;
}

// Lists

std::optional<QJsonArray> encodePriceAlerts(const QList<PriceAlert>& alerts) {
    return encodeList(alerts);
}

std::optional<QList<PriceAlert>> decodePriceAlerts(const QJsonValue& value) {
    return decodeList<PriceAlert>(value);
}

std::optional<QJsonArray> encodeHoldings(const QList<Holding>& holdings) {
    return encodeList(holdings);
}

std::optional<QList<Holding>> decodeHoldings(const QJsonValue& value) {
    return decodeList<Holding>(value);
}

} // namespace velline
