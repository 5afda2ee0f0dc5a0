import QtQuick
import QtQuick.Controls
import Velline.Settings

// One section in the sidebar; the selected one sits on a faint highlight.
AbstractButton {
    id: control

    property var section
    property bool selected

    x: 8
    width: 194
    leftPadding: 8
    rightPadding: 8
    topPadding: 5
    bottomPadding: 5
    focusPolicy: Qt.TabFocus
    Accessible.name: section ? section.title : ""

    background: Rectangle {
        radius: 6
        color: control.selected ? SettingsPalette.primaryAt(0.12)
             : control.hovered ? SettingsPalette.primaryAt(0.05) : "transparent"
        border.width: control.visualFocus ? 1 : 0
        border.color: SettingsPalette.accent
    }
    contentItem: Row {
        spacing: 10
        IconTile {
            section: control.section
        }
        Text {
            anchors.verticalCenter: parent.verticalCenter
            text: control.section ? control.section.title : ""
            font.pixelSize: 13
            font.weight: Font.Medium
            color: SettingsPalette.primary
        }
    }
}
