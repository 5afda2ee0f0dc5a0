#pragma once

#include "notchlayer/notchcontroller.h"

#include <QObject>
#include <QPointer>
#include <QVariantMap>

#include <memory>
#include <optional>

class QMenu;
class QQmlEngine;
class QScreen;
class QSystemTrayIcon;

namespace velline {

class AlertNotifications;
class AppState;
class DesktopNotifier;
class MemoryHousekeeping;
class Updater;

// Starts and wires the running program: the notch with its three content views on the first
// screen, hover to expand (and to pause the carousel), and the refresh cycle of the shared
// watch state. One instance lives as long as the process.
class AppDelegate : public QObject {
    Q_OBJECT

public:
    explicit AppDelegate(QObject* parent = nullptr);
    ~AppDelegate() override;

    // Runs the start sequence on the next turn of the event loop.
    void applicationDidFinishLaunching();
    // The start sequence: prefetch logos, build the notch and show it compact, then start
    // the watch state.
    void startApp();

    AppState& appState() const { return *m_appState; }
    NotchController* notch() const { return m_notch.get(); }
    QQmlEngine* engine() const { return m_engine.get(); }
    // The release feed checker, created with the delegate.
    Updater* updater() const { return m_updater.get(); }
    // The status menu (tray icon and right-click of the notch), once first wanted, and the tray
    // icon, once started.
    QMenu* statusMenu() const { return m_menu.get(); }
    // The status menu, built now if it was not yet.
    QMenu* ensureStatusMenu();
    QSystemTrayIcon* trayIcon() const { return m_tray.get(); }

    // The first screen: the primary one.
    static QScreen* firstScreen();

    // Builds the content view of `section` as the program shows it. Each view reads the
    // shared watch state and preferences, or the objects given as the initial properties
    // "appState" and "prefs".
    static NotchContentBuilder contentBuilder(QQmlEngine* engine, NotchSection section,
                                              const QVariantMap& properties = {});

public Q_SLOTS:
    // Shows the settings window (built on first use) in front of the other windows.
    void openSettings();
    // Starts a refresh unless one is running.
    void refresh();
    void quit();
    // Shows the quick-add panel when hidden, hides it when shown.
    void openQuickAdd();
    void checkForUpdates();
    // A command of the status menu or of the command line by name: "quick-add", "settings",
    // "refresh", "check-for-updates", "quit". Unknown names do nothing.
    void performCommand(const QString& command);

Q_SIGNALS:
    void settingsRequested();
    // The start sequence has run (the notch exists and the watch state is started).
    void started();

private:
    void setupStatusItem();
    void setupNotch();
    void registerHotKey();
    void showStatusMenu();
    void hoverChanged(bool hovering);

    AppState* m_appState;
    std::unique_ptr<Updater> m_updater;
    std::unique_ptr<DesktopNotifier> m_notifier;
    std::unique_ptr<AlertNotifications> m_alertNotifications;
    std::unique_ptr<QQmlEngine> m_engine;
    std::unique_ptr<NotchController> m_notch;
    std::unique_ptr<QMenu> m_menu;
    std::unique_ptr<QSystemTrayIcon> m_tray;
    std::unique_ptr<MemoryHousekeeping> m_housekeeping;
    std::optional<bool> m_lastHover;
    bool m_hotKeyRegistered = false;
};

} // namespace velline
