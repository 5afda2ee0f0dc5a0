#pragma once

#include "prefs/userpreferences.h"

#include <QColor>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <QtQmlIntegration/qqmlintegration.h>

namespace velline {

// What the settings panes do to the preferences, and the texts they show. The panes only lay
// out, bind and forward input; every rule lives here. Without `prefs` the shared preferences
// are edited.
class SettingsEditor : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(velline::UserPreferences* prefs READ prefs WRITE setPrefs NOTIFY prefsChanged)
    // The five sections in sidebar order: {key, title, symbol, tint}.
    Q_PROPERTY(QVariantList sections READ sections CONSTANT)
    // The display modes in their order: {raw, title, help}.
    Q_PROPERTY(QVariantList displayModes READ displayModes CONSTANT)
    Q_PROPERTY(QString spikeRuleText READ spikeRuleText CONSTANT)
    // "Velline v0.1.0 (1)": version and build number of this build.
    Q_PROPERTY(QString versionText READ versionText CONSTANT)

public:
    explicit SettingsEditor(QObject* parent = nullptr);

    UserPreferences* prefs() const;
    void setPrefs(UserPreferences* prefs);

    static QVariantList sections();
    static QVariantList displayModes();
    static QString spikeRuleText();
    static QString versionText();

    // Stocks: upper-cases and trims `text`; adds it to the end of the tracked list unless it is
    // blank, longer than kMaxSymbolLength or already tracked. True when it was added (the field
    // is then cleared).
    Q_INVOKABLE bool addTrackedSymbol(const QString& text);
    Q_INVOKABLE static bool canAddSymbol(const QString& text);
    // Removes every entry equal to `symbol`; holdings and alerts of it stay.
    Q_INVOKABLE void removeTrackedSymbol(const QString& symbol);

    // Portfolio and Alerts.
    Q_INVOKABLE static bool canAdd(const QString& symbol, const QString& numberText);
    // Adds or updates the holding; true when canAdd passed and it was stored.
    Q_INVOKABLE bool addHolding(const QString& symbol, const QString& sharesText);
    Q_INVOKABLE void removeHolding(const QString& symbol);
    // Arms a new alert; true when canAdd passed and it was stored.
    Q_INVOKABLE bool addAlert(const QString& symbol, const QString& priceText, bool above);
    // `id` as the alert's id text.
    Q_INVOKABLE void removeAlert(const QString& id);

    // A pane's text with its `backticked` parts in code style (see settings::codeStyledText).
    Q_INVOKABLE static QString codeStyledText(const QString& text, const QColor& ink,
                                              const QColor& chip);

    // Texts of the list rows.
    Q_INVOKABLE static QString shareCountText(double shares);
    Q_INVOKABLE static QString priceText(double price);
    // "" for an alert that never fired (undefined `lastTriggered`).
    Q_INVOKABLE static QString firedText(const QVariant& lastTriggered);

    // Clears all four colour overrides.
    Q_INVOKABLE void resetColors();

Q_SIGNALS:
    void prefsChanged();

private:
    UserPreferences& target() const;

    QPointer<UserPreferences> m_prefs;
};

} // namespace velline
