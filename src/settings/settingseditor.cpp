#include "settings/settingseditor.h"

#include "desktop/buildinfo.h"
#include "prefs/userpreferences.h"
#include "settings/settingsrules.h"

#include <QColor>
#include <QUuid>

namespace velline {

SettingsEditor::SettingsEditor(QObject* parent) : QObject(parent) {}

UserPreferences* SettingsEditor::prefs() const {
    return &target();
}

void SettingsEditor::setPrefs(UserPreferences* prefs) {
    if (m_prefs == prefs)
        return;
    m_prefs = prefs;
    Q_EMIT prefsChanged();
}

UserPreferences& SettingsEditor::target() const {
    return m_prefs ? *m_prefs : UserPreferences::shared();
}

QVariantList SettingsEditor::sections() {
    auto section = [](const char* key, const char* title, const char* symbol, QColor tint) {
        return QVariantMap{{QStringLiteral("key"), QLatin1String(key)},
                           {QStringLiteral("title"), QLatin1String(title)},
                           {QStringLiteral("symbol"), QLatin1String(symbol)},
                           {QStringLiteral("tint"), tint}};
    };
    // The desktop's system tints: grey, pink, green, orange, red.
    return {
        section("general", "General", "gearshape.fill", QColor(142, 142, 147)),
        section("colors", "Colors", "paintpalette.fill", QColor(255, 45, 85)),
        section("stocks", "Stocks", "chart.line.uptrend.xyaxis", QColor(52, 199, 89)),
        section("portfolio", "Portfolio", "briefcase.fill", QColor(255, 149, 0)),
        section("alerts", "Alerts", "bell.badge.fill", QColor(255, 59, 48)),
    };
}

QVariantList SettingsEditor::displayModes() {
    auto mode = [](DisplayMode m, const char* title, const char* help) {
        return QVariantMap{{QStringLiteral("raw"), rawValue(m)},
                           {QStringLiteral("title"), QLatin1String(title)},
                           {QStringLiteral("help"), QLatin1String(help)}};
    };
    return {
        mode(DisplayMode::regular, "Regular", "Logo, ticker, price, and % shown on idle."),
        mode(DisplayMode::compact, "Compact", "Only the ticker symbol and % shown on idle."),
        mode(DisplayMode::compactLogo, "Compact Mode 2",
             "Only the company logo and % shown on idle."),
        mode(DisplayMode::doNotDisturb, "Do Not Disturb",
             "Idle view is hidden. Hover the notch to reveal the card."),
    };
}

QString SettingsEditor::spikeRuleText() {
    return settings::spikeRuleText();
}

QString SettingsEditor::versionText() {
    return buildinfo::versionText();
}

bool SettingsEditor::addTrackedSymbol(const QString& text) {
    const QString symbol = normalizeSymbol(text);
    UserPreferences& prefs = target();
    QStringList tracked = prefs.trackedSymbols();
    if (!isUsableNewSymbol(symbol) || tracked.contains(symbol))
        return false;
    tracked.append(symbol);
    prefs.setTrackedSymbols(tracked);
    return true;
}

bool SettingsEditor::canAddSymbol(const QString& text) {
    return isUsableNewSymbol(normalizeSymbol(text));
}

void SettingsEditor::removeTrackedSymbol(const QString& symbol) {
    UserPreferences& prefs = target();
    QStringList tracked = prefs.trackedSymbols();
    if (tracked.removeAll(symbol) > 0)
        prefs.setTrackedSymbols(tracked);
}

bool SettingsEditor::canAdd(const QString& symbol, const QString& numberText) {
    return settings::canAdd(symbol, numberText);
}

bool SettingsEditor::addHolding(const QString& symbol, const QString& sharesText) {
    if (!canAdd(symbol, sharesText))
        return false;
    target().setHolding(symbol, *settings::parsePositiveNumber(sharesText));
    return true;
}

void SettingsEditor::removeHolding(const QString& symbol) {
    target().removeHolding(symbol);
}

bool SettingsEditor::addAlert(const QString& symbol, const QString& priceText, bool above) {
    if (!canAdd(symbol, priceText))
        return false;
    return target()
        .addAlert(symbol, *settings::parsePositiveNumber(priceText),
                  above ? PriceAlert::Direction::above : PriceAlert::Direction::below)
        .has_value();
}

void SettingsEditor::removeAlert(const QString& id) {
    const QUuid uuid(id);
    if (!uuid.isNull())
        target().removeAlert(uuid);
}

QString SettingsEditor::codeStyledText(const QString& text, const QColor& ink, const QColor& chip) {
    return settings::codeStyledText(text, ink, chip);
}

QString SettingsEditor::shareCountText(double shares) {
    return settings::shareCountText(shares);
}

QString SettingsEditor::priceText(double price) {
    return settings::priceText(price);
}

QString SettingsEditor::firedText(const QVariant& lastTriggered) {
    bool ok = false;
    const double instant = lastTriggered.toDouble(&ok);
    if (!lastTriggered.isValid() || lastTriggered.isNull() || !ok)
        return {};
    return settings::firedText(instant);
}

void SettingsEditor::resetColors() {
    target().setColorScheme(ColorSchemePrefs());
}

} // namespace velline
