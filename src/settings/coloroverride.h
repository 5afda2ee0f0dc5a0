#pragma once

#include "prefs/userpreferences.h"

#include <QColor>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWindow>
#include <QtQmlIntegration/qqmlintegration.h>

#include <optional>

class QColorDialog;

namespace velline {

// One of the four colour overrides of the notch ("equityUp", "equityDown", "futuresUp",
// "futuresDown"), as a colour row of the Colors pane edits it.
class ColorOverride : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(velline::UserPreferences* prefs READ prefs WRITE setPrefs NOTIFY prefsChanged)
    Q_PROPERTY(QString key READ key WRITE setKey NOTIFY keyChanged)
    // The override when set, else the built-in colour; always opaque.
    Q_PROPERTY(QColor color READ color NOTIFY changed)
    Q_PROPERTY(bool isSet READ isSet NOTIFY changed)
    Q_PROPERTY(QColor defaultColor READ defaultColor NOTIFY keyChanged)

public:
    explicit ColorOverride(QObject* parent = nullptr);

    static bool isKnownKey(const QString& key);
    // The built-in colour of `key`; invalid for an unknown key.
    static QColor defaultColorFor(const QString& key);
    // The picked colour as stored: its sRGB components, alpha dropped; white for an invalid one.
    static RGBColor toRGBColor(const QColor& color);

    UserPreferences* prefs() const;
    void setPrefs(UserPreferences* prefs);
    QString key() const { return m_key; }
    void setKey(const QString& key);

    QColor color() const;
    bool isSet() const;
    QColor defaultColor() const { return defaultColorFor(m_key); }

    // Stores `color` as the override (an unknown key does nothing).
    Q_INVOKABLE void pick(const QColor& color);
    // Clears this override only.
    Q_INVOKABLE void revert();
    // Opens the colour dialog (opaque colours only) on the current colour, over `parent`; the
    // colour the user accepts is picked. One dialog serves every override; without a widget
    // application there is none and nothing happens.
    Q_INVOKABLE void choose(const QString& title, QWindow* parent = nullptr);
    // The open colour dialog, if any (for tests).
    static QColorDialog* dialog();

Q_SIGNALS:
    void prefsChanged();
    void keyChanged();
    void changed();

private:
    UserPreferences& target() const;
    std::optional<RGBColor> current() const;
    void write(const std::optional<RGBColor>& value);
    void connectPrefs();

    QPointer<UserPreferences> m_prefs;
    QMetaObject::Connection m_connection;
    QString m_key;
};

} // namespace velline
