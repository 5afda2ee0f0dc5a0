#pragma once

#include <QObject>
#include <QPointer>

#include <memory>

class QQmlEngine;
#include <QQuickWindow>

namespace velline {

class Updater;
class UserPreferences;

// Picks the Qt Quick Controls style of the whole program: Fusion, which draws with the desktop's
// palette (light or dark), unless the user chose a style through QT_QUICK_CONTROLS_STYLE. Call
// before the first QML engine loads QtQuick.Controls; later calls do nothing.
void useDesktopControlsStyle();

// Owns the one settings window. It is built on the first show() and kept for the rest of the
// run: closing only hides it, so the selected section and the texts typed into its fields
// survive. Every show() centres it on the screen under the pointer, raises it and gives it
// the keyboard focus.
class SettingsWindowController : public QObject {
    Q_OBJECT

public:
    explicit SettingsWindowController(QObject* parent = nullptr);
    ~SettingsWindowController() override;

    // The program's instance, created on first use.
    static SettingsWindowController& shared();

    // What the window is built with; set before the first show(). Without an engine the
    // controller makes its own; without preferences the window edits the shared ones.
    void setEngine(QQmlEngine* engine);
    void setUpdater(Updater* updater);
    void setPrefs(UserPreferences* prefs);

    // The window once built, else null.
    QQuickWindow* window() const { return m_window.data(); }

public Q_SLOTS:
    void show();

Q_SIGNALS:
    // The window was built (once).
    void windowCreated();

private:
    bool build();
    void placeOnPointerScreen();

    QPointer<QQmlEngine> m_engine;
    std::unique_ptr<QQmlEngine> m_ownEngine;
    QPointer<Updater> m_updater;
    QPointer<UserPreferences> m_prefs;
    QPointer<QQuickWindow> m_window;
};

} // namespace velline
