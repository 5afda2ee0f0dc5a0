#pragma once

#include "prefs/records.h"

#include <QHash>
#include <QObject>
#include <QSettings>
#include <QStringList>
#include <QtQmlIntegration/qqmlintegration.h>

#include <memory>
#include <optional>

class QQmlEngine;
class QJSEngine;

namespace velline {

// Full Unicode uppercase, then spaces and tabs (Unicode space separators and U+0009, not line
// breaks) trimmed from both ends. Inner spaces stay.
QString normalizeSymbol(const QString& text);

// The longest symbol a new entry may have, at every door (the quick-add field, the settings
// panes, vellinectl prefs): room for "BRK-B", "ES=F", "7203.T" and "^GSPC" and their kind.
// A longer symbol already in the stored file (an older version, an edit by hand) is kept as it
// is: it shows, and it can be removed, but nothing new is made with it.
inline constexpr qsizetype kMaxSymbolLength = 12;

// Whether the normalised `symbol` may start a new entry: not blank, at most kMaxSymbolLength.
bool isUsableNewSymbol(const QString& symbol);

// Everything the user chooses that survives a restart. Every property notifies on every
// assignment (also when the value is equal) and writes itself to the store at once; there is no
// separate save step. A missing, mistyped or undecodable stored value falls back to its default
// on its own, without disturbing the other properties.
//
// Stored forms (QSettings, IniFormat, all keys in the [General] section):
//   trackedSymbols_v2, recentlyAdded_v1   string lists. QSettings writes a one-element list as a
//                                         plain string and an empty list as @Invalid(); both read
//                                         back as lists.
//   priceAlerts_v1, holdings_v1,          compact UTF-8 JSON text stored as a QByteArray value,
//   colorScheme_v1                        which QSettings writes as @ByteArray(...) with its own
//                                         escaping, so the bytes come back exactly.
//   displayMode_v1                        the raw value text ("regular", "compact", "compact2",
//                                         "doNotDisturb").
//   showFuturesAfterHours_v1,             a bool, which IniFormat writes as the text "true" or
//   desktopNotifications_v1               "false"; only those two texts (or a real bool) count.
// Each write is followed by QSettings::sync(), which merges with the file on disk, so changes
// another process made to other keys are kept. The file is replaced atomically on every write
// (a new file renamed over the old one, so a crash leaves the old or the new file, never a
// mix) and is readable by its owner only (0600: holdings are private).
//
// Changes made by another process (vellinectl prefs, an edit by hand) are picked up by
// reloadIfChanged(): each property whose stored value differs from the one this object last
// loaded or wrote takes the new value and notifies; a property this object changed itself
// since keeps its own value, because its write already went to the file.
class UserPreferences : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    Q_PROPERTY(QStringList trackedSymbols READ trackedSymbols WRITE setTrackedSymbols NOTIFY
                   trackedSymbolsChanged)
    Q_PROPERTY(QList<velline::PriceAlert> priceAlerts READ priceAlerts WRITE setPriceAlerts NOTIFY
                   priceAlertsChanged)
    Q_PROPERTY(
        QList<velline::Holding> holdings READ holdings WRITE setHoldings NOTIFY holdingsChanged)
    Q_PROPERTY(QStringList recentlyAdded READ recentlyAdded WRITE setRecentlyAdded NOTIFY
                   recentlyAddedChanged)
    Q_PROPERTY(velline::DisplayMode displayMode READ displayMode WRITE setDisplayMode NOTIFY
                   displayModeChanged)
    // The same property as its stored text, for QML (whose enum names must be capitalised).
    // Assigning an unknown text does nothing.
    Q_PROPERTY(QString displayModeRaw READ displayModeRaw WRITE setDisplayModeRaw NOTIFY
                   displayModeChanged)
    Q_PROPERTY(bool showFuturesAfterHours READ showFuturesAfterHours WRITE setShowFuturesAfterHours
                   NOTIFY showFuturesAfterHoursChanged)
    Q_PROPERTY(velline::ColorSchemePrefs colorScheme READ colorScheme WRITE setColorScheme NOTIFY
                   colorSchemeChanged)
    // Whether price alerts and spikes also go out as desktop notifications. Off by default.
    Q_PROPERTY(bool desktopNotifications READ desktopNotifications WRITE setDesktopNotifications
                   NOTIFY desktopNotificationsChanged)

public:
    // Loads every property from `settings` (which must outlive this object) and writes nothing.
    explicit UserPreferences(QSettings* settings, QObject* parent = nullptr);

    // The one instance of the program, on the user's Velline settings file. Created on first
    // use (on the main thread) and never destroyed.
    static UserPreferences& shared();
    // The user's settings file: IniFormat, user scope, "Velline"/"Velline", i.e.
    // $XDG_CONFIG_HOME/Velline/Velline.ini.
    static std::unique_ptr<QSettings> openDefaultStore();
    // QML singleton factory: hands QML the shared instance.
    static UserPreferences* create(QQmlEngine* qmlEngine, QJSEngine* jsEngine);

    // Looks at the settings file (one stat call) and, when it changed since the last look,
    // takes over what another process stored. Returns true when a property changed.
    bool reloadIfChanged();

    static const QStringList& defaultTrackedSymbols();
    static constexpr qsizetype kMaxRecentlyAdded = 6;

    // Stored keys.
    static const QString kTrackedSymbolsKey;
    static const QString kPriceAlertsKey;
    static const QString kHoldingsKey;
    static const QString kRecentlyAddedKey;
    static const QString kDisplayModeKey;
    static const QString kShowFuturesAfterHoursKey;
    static const QString kColorSchemeKey;
    static const QString kDesktopNotificationsKey;

    QStringList trackedSymbols() const { return m_trackedSymbols; }
    QList<PriceAlert> priceAlerts() const { return m_priceAlerts; }
    QList<Holding> holdings() const { return m_holdings; }
    QStringList recentlyAdded() const { return m_recentlyAdded; }
    DisplayMode displayMode() const { return m_displayMode; }
    QString displayModeRaw() const { return rawValue(m_displayMode); }
    bool showFuturesAfterHours() const { return m_showFuturesAfterHours; }
    ColorSchemePrefs colorScheme() const { return m_colorScheme; }
    bool desktopNotifications() const { return m_desktopNotifications; }

    // A raw assignment is published as given; when it breaks the list's rules (entries
    // normalised, non-empty, unique) the cleaned list is then assigned and published again,
    // and only the cleaned list is stored.
    void setTrackedSymbols(const QStringList& symbols);
    void setPriceAlerts(const QList<PriceAlert>& alerts);
    void setHoldings(const QList<Holding>& holdings);
    void setRecentlyAdded(const QStringList& symbols);
    void setDisplayMode(DisplayMode mode);
    void setDisplayModeRaw(const QString& raw);
    void setShowFuturesAfterHours(bool show);
    void setColorScheme(const ColorSchemePrefs& scheme);
    void setDesktopNotifications(bool on);

    // Normalises `text`; a blank or too long result (isUsableNewSymbol) returns nothing and
    // changes nothing. Otherwise the
    // symbol is appended to trackedSymbols unless already there, moved to the front of
    // recentlyAdded (at most six entries), and returned.
    std::optional<QString> addSymbol(const QString& text);

    // Blank symbol or non-finite shares: nothing happens. Shares <= 0 remove the holding; an
    // existing holding keeps its place and gets the new count; otherwise one is appended if the
    // symbol is not too long (isUsableNewSymbol).
    Q_INVOKABLE void setHolding(const QString& symbol, double shares);
    // Removes every holding of the normalised symbol; a blank symbol does nothing.
    Q_INVOKABLE void removeHolding(const QString& symbol);

    // Appends a fresh, never-triggered alert and returns its id. A blank or too long symbol
    // (isUsableNewSymbol), or a price that is not a finite number above 0, adds nothing.
    std::optional<QUuid> addAlert(const QString& symbol, double price,
                                  PriceAlert::Direction direction);
    // Removes every alert with `id`; an unknown id changes and writes nothing.
    void removeAlert(const QUuid& id);
    // Sets lastTriggered (seconds since 1970-01-01 UTC) of the first alert with `id`. An
    // unknown id or a non-finite instant changes and writes nothing.
    void markAlertTriggered(const QUuid& id, double at);

Q_SIGNALS:
    void trackedSymbolsChanged();
    void priceAlertsChanged();
    void holdingsChanged();
    void recentlyAddedChanged();
    void displayModeChanged();
    void showFuturesAfterHoursChanged();
    void colorSchemeChanged();
    void desktopNotificationsChanged();

private:
    void persistTrackedSymbols();
    void persistPriceAlerts();
    void persistHoldings();
    void persistRecentlyAdded();
    void persistDisplayMode();
    void persistShowFuturesAfterHours();
    void persistColorScheme();
    void persistDesktopNotifications();
    void store(const QString& key, const QVariant& value);
    // The file's identity and age as last seen, so an unchanged file costs one stat.
    QByteArray fileStamp() const;
    // The stored value of every key, as last loaded or written.
    QHash<QString, QByteArray> storedValues() const;
    QByteArray storedForm(const QString& key) const;
    void load(const QStringList& keys);

    QSettings* m_settings;
    QByteArray m_stamp;
    QHash<QString, QByteArray> m_known;
    bool m_leftoversCleared = false;
    QStringList m_trackedSymbols;
    QList<PriceAlert> m_priceAlerts;
    QList<Holding> m_holdings;
    QStringList m_recentlyAdded;
    DisplayMode m_displayMode = DisplayMode::regular;
    bool m_showFuturesAfterHours = true;
    ColorSchemePrefs m_colorScheme;
    bool m_desktopNotifications = false;
};

} // namespace velline
