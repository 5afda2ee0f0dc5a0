#pragma once

#include <QDBusVirtualObject>
#include <QKeySequence>
#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>

class QMenu;
class QSystemTrayIcon;
class QWidget;

namespace velline {

class AppDelegate;

// One entry of the status menu: an action with its title, shortcut hint and command, or a
// separator.
struct StatusMenuEntry {
    bool separator = false;
    QString title;
    QKeySequence shortcut;
    // What the entry runs: "quick-add", "settings", "refresh", "check-for-updates", "quit".
    QString command;
};

// The seven entries in order: Add Stock… (Super+K), Settings… (Ctrl+,), Refresh Now (Ctrl+R),
// separator, Check for Updates…, separator, Quit Velline (Ctrl+Q).
const QList<StatusMenuEntry>& statusMenuEntries();

// The menu for the tray and for a right-click of the notch; each entry calls `delegate`.
QMenu* buildStatusMenu(AppDelegate& delegate, QWidget* parent = nullptr);

// Shortcut hints name the Meta key "Super", as Linux desktops do. Installed once per process.
void installKeyNames();

// A shortcut as a dbusmenu "shortcut" property: per key, the modifiers ("Control", "Alt",
// "Shift", "Super") and then the key by its X keysym name ("K", "comma", "F5"), the names GTK
// trays parse. Ctrl+, is {{"Control", "comma"}}.
QList<QStringList> dbusMenuShortcut(const QKeySequence& sequence);

// The status menu as the com.canonical.dbusmenu object a StatusNotifierItem tray draws on a
// right-click: the same entries, separators and shortcut hints as the menu itself, and a click
// runs the entry's command on the delegate.
class StatusMenuExport final : public QDBusVirtualObject {
public:
    explicit StatusMenuExport(AppDelegate& delegate, QObject* parent = nullptr);

    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

private:
    QPointer<AppDelegate> m_delegate;
};

// Puts the status menu's own export in place of the one Qt gives the tray icon, on the tray
// icon's own bus connection (Qt writes the comma key as ",", which GTK trays cannot read, so
// their menus lost the "Ctrl+," hint). Call after the icon is shown with its context menu.
// Returns false and changes nothing when the icon is not a StatusNotifierItem (an XEmbed tray
// shows the QMenu itself).
bool exportStatusMenu(AppDelegate& delegate, QObject* owner);

} // namespace velline
