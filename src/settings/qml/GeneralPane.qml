import QtQuick
import QtQuick.Controls
import Velline.Settings

Column {
    id: pane

    property var prefs
    property QtObject updater
    property SettingsEditor editor
    property StartAtLogin startAtLogin
    // False in a build without a release feed (and without an updater at all).
    readonly property bool hasFeed: updater !== null && updater.canCheckForUpdates

    spacing: 14

    SectionCaption { text: "Display Mode" }
    SettingsCard {
        Item {
            width: parent.width
            implicitHeight: selector.implicitHeight + 28
            DisplayModeSelector {
                id: selector
                x: 14
                y: 14
                width: parent.width - 28
                modes: pane.editor.displayModes
                selection: pane.prefs.displayModeRaw
                onPicked: raw => pane.prefs.displayModeRaw = raw
            }
        }
    }

    SectionCaption { text: "Market" }
    SettingsCard {
        SettingsRow {
            title: "Show futures after hours"
            subtitle: "Swap the carousel to ES, NQ, YM, RTY, GC, CL once the regular session closes. Off — keep your tracked stocks on screen 24/7 with their last trade price."
            BoundSwitch {
                objectName: "futuresSwitch"
                value: pane.prefs.showFuturesAfterHours
                onEdited: on => pane.prefs.showFuturesAfterHours = on
            }
        }
    }

    SectionCaption { text: "Detection" }
    SettingsCard {
        SettingsRow {
            title: "Automatic spike alerts"
            subtitle: pane.editor.spikeRuleText
            Rectangle {
                implicitWidth: builtIn.implicitWidth + 16
                implicitHeight: builtIn.implicitHeight + 6
                radius: height / 2
                color: SettingsPalette.primaryAt(0.08)
                Text {
                    id: builtIn
                    anchors.centerIn: parent
                    text: "Built-in"
                    font.pixelSize: 11
                    font.weight: Font.DemiBold
                    color: SettingsPalette.secondary
                }
            }
        }
    }

    SectionCaption { text: "Updates" }
    SettingsCard {
        SettingsRow {
            objectName: "autoUpdateRow"
            title: "Automatically check for updates"
            // A build without a release feed has nothing to switch: its updates come with the
            // system's, and the button below explains the same in the update window.
            subtitle: pane.hasFeed
                      ? "Velline checks its release feed in the background and offers new builds when they are available."
                      : "This copy of Velline is updated by the system's package manager: new versions arrive with your system's software updates."
            BoundSwitch {
                objectName: "autoUpdateSwitch"
                visible: pane.hasFeed
                value: pane.hasFeed && pane.updater.automaticallyChecksForUpdates
                onEdited: on => pane.updater.automaticallyChecksForUpdates = on
            }
        }
        CardDivider {}
        SettingsRow {
            title: "Check now"
            subtitle: pane.editor.versionText
            Button {
                objectName: "checkForUpdates"
                text: "Check for Updates…"
                font.pixelSize: 12
                onClicked: if (pane.updater) pane.updater.checkForUpdates()
            }
        }
    }

    // After the sections above, so that all of them fit the window without scrolling.
    SectionCaption { text: "Startup" }
    SettingsCard {
        SettingsRow {
            title: "Start at login"
            subtitle: pane.startAtLogin.error !== ""
                      ? "Could not change the login entry: " + pane.startAtLogin.error
                      : "Open Velline in the background when you log in."
            BoundSwitch {
                objectName: "startAtLoginSwitch"
                value: pane.startAtLogin.enabled
                onEdited: on => pane.startAtLogin.enabled = on
            }
        }
    }
}
