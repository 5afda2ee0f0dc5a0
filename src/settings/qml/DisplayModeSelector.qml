import QtQuick
import QtQuick.Controls
import Velline.Notch
import Velline.Settings

// One tile per display mode, each with a miniature of the idle notch in that mode.
Row {
    id: selector

    property var modes: []
    property string selection
    signal picked(string raw)

    spacing: 10

    Repeater {
        model: selector.modes
        delegate: AbstractButton {
            id: tile

            required property var modelData
            readonly property bool selected: selector.selection === modelData.raw

            objectName: "mode-" + modelData.raw
            width: (selector.width - selector.spacing * (selector.modes.length - 1))
                   / selector.modes.length
            implicitHeight: column.implicitHeight
            focusPolicy: Qt.TabFocus
            Accessible.name: modelData.title
            ToolTip.visible: hovered
            ToolTip.text: modelData.help
            ToolTip.delay: 500
            onClicked: selector.picked(modelData.raw)

            contentItem: Column {
                id: column
                spacing: 8
                Rectangle {
                    objectName: "preview"
                    width: tile.width
                    height: 56
                    radius: 8
                    color: SettingsPalette.primaryAt(tile.selected ? 0.12 : 0.06)
                    border.width: tile.selected ? 2 : 1
                    border.color: tile.selected ? SettingsPalette.accent
                                                : SettingsPalette.primaryAt(0.08)
                    Loader {
                        anchors.centerIn: parent
                        sourceComponent: tile.modelData.raw === "regular" ? regular
                                       : tile.modelData.raw === "compact" ? compact
                                       : tile.modelData.raw === "compact2" ? compactLogo
                                       : doNotDisturb
                    }
                }
                Text {
                    width: tile.width
                    horizontalAlignment: Text.AlignHCenter
                    text: tile.modelData.title
                    font.pixelSize: 11
                    font.weight: Font.Medium
                    color: tile.selected ? SettingsPalette.primary : SettingsPalette.secondary
                }
            }
        }
    }

    component MiniText: Text {
        font.pixelSize: 9
        font.weight: Font.DemiBold
        color: SettingsPalette.primary
    }

    Component {
        id: regular
        Row {
            spacing: 3
            Rectangle {
                anchors.verticalCenter: parent.verticalCenter
                width: 10
                height: 10
                radius: 2
                color: SettingsPalette.secondary
            }
            MiniText { text: "AAPL"; font.pixelSize: 8 }
            MiniText { text: "+1.2%"; font.pixelSize: 8; color: SettingsPalette.green }
        }
    }
    Component {
        id: compact
        Row {
            spacing: 4
            MiniText { text: "AAPL" }
            MiniText { text: "+1.2%"; color: SettingsPalette.green }
        }
    }
    Component {
        id: compactLogo
        Row {
            spacing: 4
            Rectangle {
                anchors.verticalCenter: parent.verticalCenter
                width: 12
                height: 12
                radius: 2.5
                color: SettingsPalette.secondary
            }
            MiniText { text: "+1.2%"; color: SettingsPalette.green }
        }
    }
    Component {
        id: doNotDisturb
        SymbolImage {
            name: "moon.zzz.fill"
            pointSize: 18
            weight: Font.DemiBold
            color: SettingsPalette.secondary
        }
    }
}
