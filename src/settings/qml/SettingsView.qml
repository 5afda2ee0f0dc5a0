import QtQuick
import QtQuick.Controls
import Velline.Notch
import Velline.Settings

// The sidebar of five sections and the selected section's pane. Each pane is built the first
// time it is selected and then kept, so what was typed into its fields stays.
Item {
    id: root

    property var prefs
    property QtObject updater
    property string selection: "general"
    readonly property var sections: settingsEditor.sections
    readonly property var selectedSection: sections.find(s => s.key === selection) || sections[0]

    implicitWidth: 820
    implicitHeight: 640

    // Re-reads what may have changed outside the program while the window was hidden.
    function refresh() {
        loginEntry.refresh()
    }

    onSelectionChanged: detail.contentItem.contentY = 0

    SettingsEditor {
        id: settingsEditor
        prefs: root.prefs
    }
    StartAtLogin {
        id: loginEntry
    }

    Rectangle {
        id: sidebar
        width: 210
        height: parent.height
        color: SettingsPalette.sidebar

        Column {
            width: parent.width
            topPadding: 12

            Row {
                leftPadding: 16
                rightPadding: 16
                bottomPadding: 14
                spacing: 5
                SymbolImage {
                    anchors.verticalCenter: parent.verticalCenter
                    name: "chart.line.uptrend.xyaxis"
                    pointSize: 12
                    weight: Font.DemiBold
                    color: SettingsPalette.secondary
                }
                Text {
                    anchors.verticalCenter: parent.verticalCenter
                    text: "Velline"
                    font.pixelSize: 11
                    font.weight: Font.DemiBold
                    color: SettingsPalette.secondary
                }
            }
            Repeater {
                model: root.sections
                delegate: SidebarButton {
                    required property var modelData
                    objectName: "section-" + modelData.key
                    section: modelData
                    selected: root.selection === modelData.key
                    onClicked: root.selection = modelData.key
                }
            }
        }
    }

    Rectangle {
        x: sidebar.width
        width: 1
        height: parent.height
        color: SettingsPalette.primaryAt(0.12)
    }

    ScrollView {
        id: detail
        objectName: "detail"
        x: sidebar.width + 1
        width: parent.width - x
        height: parent.height
        contentWidth: availableWidth
        ScrollBar.horizontal.policy: ScrollBar.AlwaysOff

        Column {
            id: detailColumn
            width: detail.availableWidth
            leftPadding: 26
            rightPadding: 26
            topPadding: 22
            bottomPadding: 22
            spacing: 18

            readonly property real paneWidth: width - leftPadding - rightPadding

            Row {
                spacing: 10
                bottomPadding: 2
                IconTile {
                    anchors.verticalCenter: parent.verticalCenter
                    section: root.selectedSection
                    scale: 1.15
                }
                Text {
                    objectName: "detailTitle"
                    anchors.verticalCenter: parent.verticalCenter
                    text: root.selectedSection.title
                    font.pixelSize: 20
                    font.weight: Font.DemiBold
                    color: SettingsPalette.primary
                }
            }

            Loader {
                property bool wanted: false
                objectName: "pane-general"
                width: detailColumn.paneWidth
                readonly property bool shown: root.selection === "general"
                visible: shown
                active: wanted || shown
                onShownChanged: if (shown) wanted = true
                Component.onCompleted: if (shown) wanted = true
                sourceComponent: GeneralPane {
                    prefs: root.prefs
                    updater: root.updater
                    editor: settingsEditor
                    startAtLogin: loginEntry
                }
            }
            Loader {
                property bool wanted: false
                objectName: "pane-colors"
                width: detailColumn.paneWidth
                readonly property bool shown: root.selection === "colors"
                visible: shown
                active: wanted || shown
                onShownChanged: if (shown) wanted = true
                Component.onCompleted: if (shown) wanted = true
                sourceComponent: ColorsPane {
                    prefs: root.prefs
                    editor: settingsEditor
                }
            }
            Loader {
                property bool wanted: false
                objectName: "pane-stocks"
                width: detailColumn.paneWidth
                readonly property bool shown: root.selection === "stocks"
                visible: shown
                active: wanted || shown
                onShownChanged: if (shown) wanted = true
                Component.onCompleted: if (shown) wanted = true
                sourceComponent: StocksPane {
                    prefs: root.prefs
                    editor: settingsEditor
                }
            }
            Loader {
                property bool wanted: false
                objectName: "pane-portfolio"
                width: detailColumn.paneWidth
                readonly property bool shown: root.selection === "portfolio"
                visible: shown
                active: wanted || shown
                onShownChanged: if (shown) wanted = true
                Component.onCompleted: if (shown) wanted = true
                sourceComponent: PortfolioPane {
                    prefs: root.prefs
                    editor: settingsEditor
                }
            }
            Loader {
                property bool wanted: false
                objectName: "pane-alerts"
                width: detailColumn.paneWidth
                readonly property bool shown: root.selection === "alerts"
                visible: shown
                active: wanted || shown
                onShownChanged: if (shown) wanted = true
                Component.onCompleted: if (shown) wanted = true
                sourceComponent: AlertsPane {
                    prefs: root.prefs
                    editor: settingsEditor
                }
            }
        }
    }
}
