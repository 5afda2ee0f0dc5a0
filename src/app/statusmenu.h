#pragma once

#include <QKeySequence>
#include <QList>
#include <QString>

class QMenu;
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

} // namespace velline
