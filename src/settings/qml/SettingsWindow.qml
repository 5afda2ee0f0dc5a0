import QtQuick
import QtQuick.Controls
import Velline.Prefs
import Velline.Settings

// The settings window: a normal decorated window of fixed size. Closing it only hides it.
ApplicationWindow {
    id: window

    // The release feed checker of the running program (may be null in a build without one).
    required property QtObject updater
    property var prefs: UserPreferences

    title: "Velline Settings"
    width: 820
    height: 640
    minimumWidth: 820
    maximumWidth: 820
    minimumHeight: 640
    maximumHeight: 640
    color: SettingsPalette.background

    onVisibleChanged: if (visible) view.refresh()

    SettingsView {
        id: view
        objectName: "settingsView"
        anchors.fill: parent
        prefs: window.prefs
        updater: window.updater
    }
}
