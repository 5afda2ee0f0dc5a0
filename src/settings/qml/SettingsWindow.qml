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
    // The controls draw with the desktop's palette, light or dark, and follow its changes.
    palette.window: SettingsPalette.background
    palette.windowText: SettingsPalette.primary
    palette.button: SettingsPalette.button
    palette.active.buttonText: SettingsPalette.buttonText
    palette.inactive.buttonText: SettingsPalette.buttonText
    palette.base: SettingsPalette.base
    palette.active.text: SettingsPalette.text
    palette.inactive.text: SettingsPalette.text
    palette.highlight: SettingsPalette.accent
    palette.highlightedText: SettingsPalette.highlightedText
    palette.light: SettingsPalette.light
    palette.midlight: SettingsPalette.midlight
    palette.mid: SettingsPalette.mid
    palette.dark: SettingsPalette.dark
    palette.shadow: SettingsPalette.shadow
    palette.toolTipBase: SettingsPalette.toolTipBase
    palette.toolTipText: SettingsPalette.toolTipText
    palette.placeholderText: SettingsPalette.placeholderText
    palette.disabled.buttonText: SettingsPalette.disabledText
    palette.disabled.text: SettingsPalette.disabledText

    onVisibleChanged: if (visible) view.refresh()

    SettingsView {
        id: view
        objectName: "settingsView"
        anchors.fill: parent
        prefs: window.prefs
        updater: window.updater
    }
}
