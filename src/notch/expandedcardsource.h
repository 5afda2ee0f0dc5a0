#pragma once

#include "notch/notchtheme.h"

#include <QColor>
#include <QObject>
#include <QPointer>
#include <QVariant>
#include <QtQmlIntegration/qqmlintegration.h>

class QQmlEngine;
class QJSEngine;

namespace velline {

class AppState;
class UserPreferences;

// Requests from the notch content that the program answers (the settings window belongs to
// the app shell): connect to NotchActions::shared().
class NotchActions : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    static NotchActions& shared();
    static NotchActions* create(QQmlEngine*, QJSEngine*);

    Q_INVOKABLE void openSettings() { Q_EMIT openSettingsRequested(); }

Q_SIGNALS:
    void openSettingsRequested();

private:
    explicit NotchActions(QObject* parent = nullptr) : QObject(parent) {}
};

// What the card's wrapper takes from the watch state and the preferences beyond the plain
// fields: the theme for the carousel's mode, and the portfolio figures, present only while
// the user holds something and the carousel shows equities.
//   ExpandedCardSource { appState: AppState; prefs: UserPreferences }
class ExpandedCardSource : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QObject* appState READ stateObject WRITE setStateObject NOTIFY changed)
    Q_PROPERTY(QObject* prefs READ prefsObject WRITE setPrefsObject NOTIFY changed)
    Q_PROPERTY(velline::NotchTheme theme READ theme NOTIFY changed)
    // Numbers, or null when the card has no portfolio line.
    Q_PROPERTY(QVariant portfolioDayPL READ portfolioDayPL NOTIFY changed)
    Q_PROPERTY(QVariant portfolioMarketValue READ portfolioMarketValue NOTIFY changed)

public:
    // Without a state and preferences: the equity theme and no portfolio line.
    explicit ExpandedCardSource(QObject* parent = nullptr) : QObject(parent) {}
    ExpandedCardSource(AppState* state, UserPreferences* prefs, QObject* parent);

    QObject* stateObject() const;
    void setStateObject(QObject* state);
    QObject* prefsObject() const;
    void setPrefsObject(QObject* prefs);

    NotchTheme theme() const;
    bool showsPortfolio() const;
    QVariant portfolioDayPL() const;
    QVariant portfolioMarketValue() const;

Q_SIGNALS:
    void changed();

private:
    void setState(AppState* state);
    void setPrefs(UserPreferences* prefs);

    QPointer<AppState> m_state;
    QPointer<UserPreferences> m_prefs;
    QList<QMetaObject::Connection> m_stateConnections;
    QList<QMetaObject::Connection> m_prefsConnections;
};

// Fixed colours of the card's secondary texts and controls (each a palette colour at the
// opacity the card draws it with).
class CardPalette : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    Q_PROPERTY(QColor price READ price CONSTANT)
    Q_PROPERTY(QColor bullet READ bullet CONSTANT)
    Q_PROPERTY(QColor previousClose READ bullet CONSTANT)
    Q_PROPERTY(QColor contextTag READ contextTag CONSTANT)
    Q_PROPERTY(QColor caption READ caption CONSTANT)
    Q_PROPERTY(QColor watching READ watching CONSTANT)
    Q_PROPERTY(QColor chipBackground READ chipBackground CONSTANT)
    Q_PROPERTY(QColor you READ you CONSTANT)
    Q_PROPERTY(QColor today READ today CONSTANT)
    Q_PROPERTY(QColor badgeText READ badgeText CONSTANT)
    Q_PROPERTY(QColor alertBadge READ alertBadge CONSTANT)
    Q_PROPERTY(QColor settingsButton READ settingsButton CONSTANT)
    Q_PROPERTY(QColor pagerButton READ pagerButton CONSTANT)
    Q_PROPERTY(QColor dotCurrent READ dotCurrent CONSTANT)
    Q_PROPERTY(QColor dotOther READ dotOther CONSTANT)
    Q_PROPERTY(QColor removeBar READ removeBar CONSTANT)
    Q_PROPERTY(QColor removeCircle READ removeCircle CONSTANT)
    // The theme a card shows before it is given one.
    Q_PROPERTY(velline::NotchTheme defaultTheme READ defaultTheme CONSTANT)

public:
    explicit CardPalette(QObject* parent = nullptr) : QObject(parent) {}

    static QColor price();
    static QColor bullet();
    static QColor contextTag();
    static QColor caption();
    static QColor watching();
    static QColor chipBackground();
    static QColor you();
    static QColor today();
    static QColor badgeText();
    static QColor alertBadge();
    static QColor settingsButton();
    static QColor pagerButton();
    static QColor dotCurrent();
    static QColor dotOther();
    static QColor removeBar();
    static QColor removeCircle();
    static NotchTheme defaultTheme() { return NotchTheme::equity({}); }

    // `color` with its opacity multiplied by `opacity`.
    Q_INVOKABLE static QColor faded(const QColor& color, double opacity);
    // The mode badge's fill: the theme's muted rising colour at 0.4.
    Q_INVOKABLE static QColor modeBadgeFill(const velline::NotchTheme& theme);
};

} // namespace velline
