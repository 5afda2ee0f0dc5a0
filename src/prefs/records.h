#pragma once

// The small value records that only the preference store owns, with the JSON forms they are
// stored in. Decoding is strict: a missing required key or a value of the wrong JSON type makes
// the record undecodable (std::nullopt); a JSON null counts as an absent key. Encoding refuses
// records holding a non-finite number (JSON has no NaN or infinity), so a caller never stores
// a value that would not load again.

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QUuid>
#include <QVariant>
#include <QtQmlIntegration/qqmlintegration.h>

#include <array>
#include <optional>

namespace velline {

// Stored dates count seconds from 2001-01-01 00:00:00 UTC; in memory every instant counts
// seconds from 1970-01-01 00:00:00 UTC. This is the distance between the two origins.
inline constexpr double kStoredDateOffset = 978307200.0;

// An opaque sRGB colour, components normally in 0...1. No alpha.
struct RGBColor {
    Q_GADGET
    QML_VALUE_TYPE(rgbColor)
    Q_PROPERTY(double red MEMBER red)
    Q_PROPERTY(double green MEMBER green)
    Q_PROPERTY(double blue MEMBER blue)

public:
    double red = 0.0;
    double green = 0.0;
    double blue = 0.0;

    friend bool operator==(const RGBColor&, const RGBColor&) = default;

    // {"red":r,"green":g,"blue":b}; std::nullopt when a component is not finite.
    std::optional<QJsonObject> toJson() const;
    static std::optional<RGBColor> fromJson(const QJsonValue& value);
};

size_t qHash(const RGBColor& color, size_t seed = 0) noexcept;

// Optional overrides of the rising and falling colours; an unset field means the built-in one.
struct ColorSchemePrefs {
    std::optional<RGBColor> equityUp;
    std::optional<RGBColor> equityDown;
    std::optional<RGBColor> futuresUp;
    std::optional<RGBColor> futuresDown;

    friend bool operator==(const ColorSchemePrefs&, const ColorSchemePrefs&) = default;

    // One object with a key only for each colour that is set (the default is {}).
    std::optional<QJsonObject> toJson() const;
    static std::optional<ColorSchemePrefs> fromJson(const QJsonValue& value);
};

// A user-armed price level for one symbol.
struct PriceAlert {
    Q_GADGET
    QML_VALUE_TYPE(priceAlert)
    Q_PROPERTY(QString id READ idText)
    Q_PROPERTY(QString symbol MEMBER symbol)
    Q_PROPERTY(double price MEMBER price)
    Q_PROPERTY(Direction direction MEMBER direction)
    Q_PROPERTY(bool isAbove READ isAbove)
    Q_PROPERTY(QVariant lastTriggered READ lastTriggeredValue)

public:
    enum class Direction { above, below };
    Q_ENUM(Direction)

    QUuid id;
    QString symbol;
    double price = 0.0;
    Direction direction = Direction::above;
    std::optional<double> lastTriggered; // seconds since 1970-01-01 UTC

    friend bool operator==(const PriceAlert&, const PriceAlert&) = default;

    // Upper-case 36-character UUID text without braces, as stored.
    QString idText() const;
    bool isAbove() const { return direction == Direction::above; }
    // The instant as a number, or undefined in QML when the alert has never fired.
    QVariant lastTriggeredValue() const;

    static constexpr std::array<Direction, 2> allDirections{Direction::above, Direction::below};
    static QString rawValue(Direction direction);
    static std::optional<Direction> directionFromRawValue(const QString& raw);

    // {"id","symbol","price","direction"[,"lastTriggered"]}, "lastTriggered" as a stored date
    // and left out when unset; std::nullopt when a number is not finite.
    std::optional<QJsonObject> toJson() const;
    static std::optional<PriceAlert> fromJson(const QJsonValue& value);
};

// Shares of one symbol in the user's portfolio.
struct Holding {
    Q_GADGET
    QML_VALUE_TYPE(holding)
    Q_PROPERTY(QString symbol MEMBER symbol)
    Q_PROPERTY(double shares MEMBER shares)

public:
    QString symbol;
    double shares = 0.0;

    friend bool operator==(const Holding&, const Holding&) = default;

    std::optional<QJsonObject> toJson() const;
    static std::optional<Holding> fromJson(const QJsonValue& value);
};

// What the compact notch shows while idle.
enum class DisplayMode { regular, compact, compactLogo, doNotDisturb };

inline constexpr std::array<DisplayMode, 4> allDisplayModes{
    DisplayMode::regular, DisplayMode::compact, DisplayMode::compactLogo,
    DisplayMode::doNotDisturb};

// The stored text of each mode; compactLogo is stored as "compact2".
QString rawValue(DisplayMode mode);
std::optional<DisplayMode> displayModeFromRawValue(const QString& raw);

// Whole lists: an array encodes only when every element does; a list decodes only when the
// value is an array and every element decodes.
std::optional<QJsonArray> encodePriceAlerts(const QList<PriceAlert>& alerts);
std::optional<QList<PriceAlert>> decodePriceAlerts(const QJsonValue& value);
std::optional<QJsonArray> encodeHoldings(const QList<Holding>& holdings);
std::optional<QList<Holding>> decodeHoldings(const QJsonValue& value);

} // namespace velline
