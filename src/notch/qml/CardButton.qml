import QtQuick
import QtQuick.Controls.Basic
import Velline.Notch
import Velline.NotchLayer

// A plain symbol button: no frame, dimmed while pressed, with an optional tool tip. It takes
// the press, so a click on it never counts as a tap or a drag on the card.
Item {
    id: button

    property string symbol
    property real pointSize: 11
    property int weight: Font.Normal
    property color color: NotchPalette.textPrimary
    property color secondaryColor: "transparent"
    // Extra room around the symbol, or a fixed square target when `target` is set.
    property real padding: 0
    property real target: 0
    property string toolTip

    signal clicked()

    implicitWidth: target > 0 ? target : image.implicitWidth + 2 * padding
    implicitHeight: target > 0 ? target : image.implicitHeight + 2 * padding

    SymbolImage {
        id: image
        anchors.centerIn: parent
        name: button.symbol
        pointSize: button.pointSize
        weight: button.weight
        color: button.color
        secondaryColor: button.secondaryColor
        opacity: area.pressed ? 0.6 : 1
    }

    MouseArea {
        id: area
        anchors.fill: parent
        hoverEnabled: true
        onClicked: button.clicked()
    }

    ToolTip {
        visible: button.toolTip !== "" && area.containsMouse
        delay: 700
        text: button.toolTip
        font.family: NotchFormat.systemFontFamily
        font.pixelSize: 11
        contentItem: Text {
            text: button.toolTip
            font.family: NotchFormat.systemFontFamily
            font.pixelSize: 11
            color: "#f2f2f2"
        }
        background: Rectangle {
            color: "#2a2a2a"
            border.color: "#4a4a4a"
            radius: 4
            // The tip may reach past the notch's outline; the panel keeps it visible there.
            NotchOverlayArea {
                anchors.fill: parent
                radius: parent.radius
            }
        }
    }
}
