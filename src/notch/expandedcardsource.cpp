#include "notch/expandedcardsource.h"

#include "notch/cardformat.h"
#include "prefs/userpreferences.h"
#include "state/appstate.h"

#include <QJSEngine>

namespace velline {

NotchActions& NotchActions::shared() {
    static NotchActions* actions = new NotchActions;
    return *actions;
}

NotchActions* NotchActions::create(QQmlEngine*, QJSEngine*) {
    NotchActions* actions = &shared();
    QJSEngine::setObjectOwnership(actions, QJSEngine::CppOwnership);
    return actions;
}

ExpandedCardSource::ExpandedCardSource(AppState* state, UserPreferences* prefs, QObject* parent)
    : QObject(parent) {
    setState(state);
    setPrefs(prefs);
}

QObject* ExpandedCardSource::stateObject() const {
    return m_state;
}

void ExpandedCardSource::setStateObject(QObject* state) {
    setState(qobject_cast<AppState*>(state));
}

QObject* ExpandedCardSource::prefsObject() const {
    return m_prefs;
}

void ExpandedCardSource::setPrefsObject(QObject* prefs) {
    setPrefs(qobject_cast<UserPreferences*>(prefs));
}

void ExpandedCardSource::setState(AppState* state) {
    for (const auto& c : std::as_const(m_stateConnections))
        disconnect(c);
    m_stateConnections.clear();
    m_state = state;
    if (state) {
        m_stateConnections = {
            connect(state, &AppState::isAfterHoursChanged, this, &ExpandedCardSource::changed),
            connect(state, &AppState::portfolioChanged, this, &ExpandedCardSource::changed),
        };
    }
    Q_EMIT changed();
}

void ExpandedCardSource::setPrefs(UserPreferences* prefs) {
    for (const auto& c : std::as_const(m_prefsConnections))
        disconnect(c);
    m_prefsConnections.clear();
    m_prefs = prefs;
    if (prefs) {
        m_prefsConnections = {
            connect(prefs, &UserPreferences::holdingsChanged, this, &ExpandedCardSource::changed),
            connect(prefs, &UserPreferences::colorSchemeChanged, this,
                    &ExpandedCardSource::changed),
        };
    }
    Q_EMIT changed();
}

NotchTheme ExpandedCardSource::theme() const {
    const ColorSchemePrefs scheme = m_prefs ? m_prefs->colorScheme() : ColorSchemePrefs{};
    return NotchTheme::select(scheme, m_state && m_state->isAfterHours());
}

bool ExpandedCardSource::showsPortfolio() const {
    return m_state && m_prefs && !m_prefs->holdings().isEmpty() && !m_state->isAfterHours();
}

QVariant ExpandedCardSource::portfolioDayPL() const {
    return showsPortfolio() ? QVariant(m_state->portfolioDayPL()) : QVariant();
}

QVariant ExpandedCardSource::portfolioMarketValue() const {
    return showsPortfolio() ? QVariant(m_state->portfolioMarketValue()) : QVariant();
}

QColor CardPalette::faded(const QColor& color, double opacity) {
    QColor result = color;
    result.setAlphaF(static_cast<float>(color.alphaF() * opacity));
    return result;
}

QColor CardPalette::modeBadgeFill(const NotchTheme& theme) {
    return toQColor(theme.mutedPositive, 0.4);
}

QColor CardPalette::price() {
    return faded(NotchPalette::textPrimary(), 0.75);
}
QColor CardPalette::bullet() {
    return NotchPalette::textTertiary();
}
QColor CardPalette::contextTag() {
    return NotchPalette::textSecondary();
}
QColor CardPalette::caption() {
    return faded(NotchPalette::textSecondary(), 0.85);
}
QColor CardPalette::watching() {
    return faded(NotchPalette::textSecondary(), 0.8);
}
QColor CardPalette::chipBackground() {
    return QColor::fromRgbF(1, 1, 1, 0.06f);
}
QColor CardPalette::you() {
    return faded(NotchPalette::textSecondary(), 0.75);
}
QColor CardPalette::today() {
    return faded(NotchPalette::textSecondary(), 0.55);
}
QColor CardPalette::badgeText() {
    return QColor::fromRgbF(0, 0, 0, 0.85f);
}
QColor CardPalette::alertBadge() {
    return card::alertAmber();
}
QColor CardPalette::settingsButton() {
    return faded(NotchPalette::textSecondary(), 0.9);
}
QColor CardPalette::pagerButton() {
    return faded(NotchPalette::textPrimary(), 0.75);
}
QColor CardPalette::dotCurrent() {
    return NotchPalette::textPrimary();
}
QColor CardPalette::dotOther() {
    return QColor::fromRgbF(1, 1, 1, 0.25f);
}
QColor CardPalette::removeBar() {
    return QColor::fromRgbF(1, 1, 1, 0.9f);
}
QColor CardPalette::removeCircle() {
    return toQColor(NotchPalette::destructive());
}

} // namespace velline
