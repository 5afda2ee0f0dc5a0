#include "notch/notchtheme.h"

#include <algorithm>
#include <cmath>

namespace velline {

RGBColor spikeVariant(const RGBColor& base, double factor) {
    const double r = base.red;
    const double g = base.green;
    const double b = base.blue;
    // A colour with no sRGB reading converts to hue, saturation and brightness 0: black.
    if (!std::isfinite(r) || !std::isfinite(g) || !std::isfinite(b) || !std::isfinite(factor))
        return {0, 0, 0};
    // HSB brightness is the largest component; scaling it with hue and saturation held
    // scales all three components alike.
    const double brightness = std::max({r, g, b});
    if (brightness <= 0)
        return base;
    const double raised = std::min(brightness * factor, 1.0);
    const double k = raised / brightness;
    return {r * k, g * k, b * k};
}

QColor toQColor(const RGBColor& color, double opacity) {
    return QColor::fromRgbF(static_cast<float>(color.red), static_cast<float>(color.green),
                            static_cast<float>(color.blue), static_cast<float>(opacity));
}

namespace {
NotchTheme build(const std::optional<RGBColor>& up, const std::optional<RGBColor>& down,
                 const RGBColor& upDefault, const RGBColor& downDefault,
                 const RGBColor& spikeUpDefault, const RGBColor& spikeDownDefault) {
    NotchTheme theme;
    theme.mutedPositive = up.value_or(upDefault);
    theme.mutedNegative = down.value_or(downDefault);
    theme.spikePositive = up ? spikeVariant(*up) : spikeUpDefault;
    theme.spikeNegative = down ? spikeVariant(*down) : spikeDownDefault;
    return theme;
}
} // namespace

NotchTheme NotchTheme::equity(const ColorSchemePrefs& scheme) {
    return build(scheme.equityUp, scheme.equityDown, NotchPalette::equityUpDefault(),
                 NotchPalette::equityDownDefault(), NotchPalette::equitySpikeUpDefault(),
                 NotchPalette::equitySpikeDownDefault());
}

NotchTheme NotchTheme::futures(const ColorSchemePrefs& scheme) {
    NotchTheme theme =
        build(scheme.futuresUp, scheme.futuresDown, NotchPalette::futuresUpDefault(),
              NotchPalette::futuresDownDefault(), NotchPalette::futuresSpikeUpDefault(),
              NotchPalette::futuresSpikeDownDefault());
    theme.modeLabel = QStringLiteral("Futures");
    return theme;
}

NotchTheme NotchTheme::select(const ColorSchemePrefs& scheme, bool isAfterHours) {
    return isAfterHours ? futures(scheme) : equity(scheme);
}

NotchThemeSource::NotchThemeSource(QObject* parent)
    : NotchThemeSource(&UserPreferences::shared(), parent) {}

NotchThemeSource::NotchThemeSource(UserPreferences* prefs, QObject* parent) : QObject(parent) {
    setPrefsObject(prefs);
}

QObject* NotchThemeSource::prefsObject() const {
    return m_prefs;
}

void NotchThemeSource::setPrefsObject(QObject* object) {
    auto* prefs = qobject_cast<UserPreferences*>(object);
    if (prefs == m_prefs)
        return;
    disconnect(m_prefsConnection);
    m_prefs = prefs;
    if (prefs)
        m_prefsConnection = connect(prefs, &UserPreferences::colorSchemeChanged, this,
                                    &NotchThemeSource::themeChanged);
    Q_EMIT themeChanged();
}

void NotchThemeSource::setIsAfterHours(bool value) {
    if (value == m_isAfterHours)
        return;
    m_isAfterHours = value;
    Q_EMIT themeChanged();
}

NotchTheme NotchThemeSource::theme() const {
    return NotchTheme::select(m_prefs ? m_prefs->colorScheme() : ColorSchemePrefs{},
                              m_isAfterHours);
}

} // namespace velline
