#pragma once

#include "prefs/userpreferences.h"

#include <QColor>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariant>
#include <QtQmlIntegration/qqmlintegration.h>

#include <optional>

namespace velline {

// How much brighter the loud spike colours are than the base colours they derive from.
inline constexpr double spikeBrightnessFactor = 1.18;

// The loud variant of a base colour: its HSB brightness scaled by `factor`, capped at 1.0,
// hue and saturation kept. Works on the sRGB component values as stored; black stays black.
RGBColor spikeVariant(const RGBColor& base, double factor = spikeBrightnessFactor);

// An opaque (or given opacity) sRGB colour for drawing.
QColor toQColor(const RGBColor& color, double opacity = 1.0);

// The directional colours every notch view draws with. Rebuilt from the colour scheme and the
// futures flag whenever either changes; holds no state of its own.
struct NotchTheme {
    Q_GADGET
    QML_VALUE_TYPE(notchTheme)
    Q_PROPERTY(QColor mutedPositive READ mutedPositiveColor)
    Q_PROPERTY(QColor mutedNegative READ mutedNegativeColor)
    Q_PROPERTY(QColor spikePositive READ spikePositiveColor)
    Q_PROPERTY(QColor spikeNegative READ spikeNegativeColor)
    // null in QML for the equity theme.
    Q_PROPERTY(QVariant modeLabel READ modeLabelValue)

public:
    RGBColor mutedPositive;
    RGBColor mutedNegative;
    RGBColor spikePositive;
    RGBColor spikeNegative;
    std::optional<QString> modeLabel;

    static NotchTheme equity(const ColorSchemePrefs& scheme);
    static NotchTheme futures(const ColorSchemePrefs& scheme);
    // The theme for the carousel's current mode: futures while the futures mode is on.
    static NotchTheme select(const ColorSchemePrefs& scheme, bool isAfterHours);

    QColor mutedPositiveColor() const { return toQColor(mutedPositive); }
    QColor mutedNegativeColor() const { return toQColor(mutedNegative); }
    QColor spikePositiveColor() const { return toQColor(spikePositive); }
    QColor spikeNegativeColor() const { return toQColor(spikeNegative); }
    QVariant modeLabelValue() const { return modeLabel ? QVariant(*modeLabel) : QVariant(); }

    friend bool operator==(const NotchTheme&, const NotchTheme&) = default;
};

// The fixed colours of the notch content. The base defaults stand in wherever the user has
// not chosen a colour; the settings pane offers the same four as its picker defaults.
class NotchPalette : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    Q_PROPERTY(QColor textPrimary READ textPrimary CONSTANT)
    Q_PROPERTY(QColor textSecondary READ textSecondary CONSTANT)
    Q_PROPERTY(QColor textTertiary READ textTertiary CONSTANT)
    Q_PROPERTY(QColor destructive READ destructiveColor CONSTANT)
    Q_PROPERTY(QColor equityUpDefault READ equityUpDefaultColor CONSTANT)
    Q_PROPERTY(QColor equityDownDefault READ equityDownDefaultColor CONSTANT)
    Q_PROPERTY(QColor equitySpikeUpDefault READ equitySpikeUpDefaultColor CONSTANT)
    Q_PROPERTY(QColor equitySpikeDownDefault READ equitySpikeDownDefaultColor CONSTANT)
    Q_PROPERTY(QColor futuresUpDefault READ futuresUpDefaultColor CONSTANT)
    Q_PROPERTY(QColor futuresDownDefault READ futuresDownDefaultColor CONSTANT)

public:
    explicit NotchPalette(QObject* parent = nullptr) : QObject(parent) {}

    static QColor textPrimary() { return QColor::fromRgbF(1, 1, 1, 0.9f); }
    static QColor textSecondary() { return QColor::fromRgbF(1, 1, 1, 0.55f); }
    static QColor textTertiary() { return QColor::fromRgbF(1, 1, 1, 0.35f); }

    static RGBColor destructive() { return {1.0, 0.373, 0.341}; }
    static RGBColor equityUpDefault() { return {0.55, 0.82, 0.62}; }
    static RGBColor equityDownDefault() { return {0.90, 0.48, 0.48}; }
    static RGBColor equitySpikeUpDefault() { return {0.68, 0.96, 0.74}; }
    static RGBColor equitySpikeDownDefault() { return {1.0, 0.58, 0.58}; }
    static RGBColor futuresUpDefault() { return {0.86, 0.68, 0.28}; }
    static RGBColor futuresDownDefault() { return {0.62, 0.48, 0.88}; }
    // Spike defaults of the futures theme only; fixed values, not derived from the bases.
    static RGBColor futuresSpikeUpDefault() { return {0.98, 0.82, 0.40}; }
    static RGBColor futuresSpikeDownDefault() { return {0.78, 0.62, 0.98}; }

private:
    static QColor destructiveColor() { return toQColor(destructive()); }
    static QColor equityUpDefaultColor() { return toQColor(equityUpDefault()); }
    static QColor equityDownDefaultColor() { return toQColor(equityDownDefault()); }
    static QColor equitySpikeUpDefaultColor() { return toQColor(equitySpikeUpDefault()); }
    static QColor equitySpikeDownDefaultColor() { return toQColor(equitySpikeDownDefault()); }
    static QColor futuresUpDefaultColor() { return toQColor(futuresUpDefault()); }
    static QColor futuresDownDefaultColor() { return toQColor(futuresDownDefault()); }
};

// A live theme for views: follows the user's colour scheme by itself and the futures flag
// through a binding, e.g. NotchThemeSource { isAfterHours: AppState.isAfterHours }.
class NotchThemeSource : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(bool isAfterHours READ isAfterHours WRITE setIsAfterHours NOTIFY themeChanged)
    // The preferences whose colour scheme is followed; the shared ones unless set.
    Q_PROPERTY(QObject* prefs READ prefsObject WRITE setPrefsObject NOTIFY themeChanged)
    Q_PROPERTY(velline::NotchTheme theme READ theme NOTIFY themeChanged)

public:
    // Without preferences the shared store is used.
    explicit NotchThemeSource(QObject* parent = nullptr);
    NotchThemeSource(UserPreferences* prefs, QObject* parent);

    bool isAfterHours() const { return m_isAfterHours; }
    void setIsAfterHours(bool value);
    QObject* prefsObject() const;
    void setPrefsObject(QObject* prefs);
    NotchTheme theme() const;

Q_SIGNALS:
    void themeChanged();

private:
    QPointer<UserPreferences> m_prefs;
    QMetaObject::Connection m_prefsConnection;
    bool m_isAfterHours = false;
};

} // namespace velline

Q_DECLARE_METATYPE(velline::NotchTheme)
