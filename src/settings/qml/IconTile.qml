import QtQuick
import Velline.Notch
import Velline.Settings

// A section's symbol in white on a small rounded tile of its tint.
Item {
    id: tile

    property var section
    readonly property color tint: section ? section.tint : "gray"

    width: 22
    height: 22

    Rectangle {
        y: 1
        width: parent.width
        height: parent.height
        radius: 5.5
        color: SettingsPalette.withOpacity(tile.tint, 0.35)
    }
    Rectangle {
        width: parent.width
        height: parent.height
        radius: 5.5
        gradient: Gradient {
            GradientStop { position: 0; color: Qt.lighter(tile.tint, 1.18) }
            GradientStop { position: 1; color: tile.tint }
        }
    }
    SymbolImage {
        anchors.centerIn: parent
        name: tile.section ? tile.section.symbol : ""
        pointSize: 11
        weight: Font.Bold
        color: "white"
    }
}
