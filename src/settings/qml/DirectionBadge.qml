import QtQuick
import Velline.Notch
import Velline.Settings

// "crosses above" in green or "falls below" in red, on a capsule of the same tint.
Rectangle {
    id: badge

    property bool above: true
    readonly property color tint: above ? SettingsPalette.green : SettingsPalette.red

    implicitWidth: row.implicitWidth + 12
    implicitHeight: row.implicitHeight + 4
    radius: height / 2
    color: SettingsPalette.withOpacity(tint, 0.12)

    Row {
        id: row
        anchors.centerIn: parent
        spacing: 4
        SymbolImage {
            anchors.verticalCenter: parent.verticalCenter
            name: badge.above ? "arrow.up" : "arrow.down"
            pointSize: 9
            weight: Font.Bold
            color: badge.tint
        }
        Text {
            anchors.verticalCenter: parent.verticalCenter
            text: badge.above ? "crosses above" : "falls below"
            font.pixelSize: 11
            font.weight: Font.Medium
            color: badge.tint
        }
    }
}
