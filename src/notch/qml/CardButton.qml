import QtQuick
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

    // The tool tip, once the pointer has rested on the button for 700 ms: centred above it
    // (below, where the window has no room above), at least 6 points inside the window and
    // over everything else in it, since the card's clip would cut it.
    readonly property bool tipWanted: toolTip !== "" && area.containsMouse
    property bool tipShown: false
    onTipWantedChanged: tipShown = false

    Timer {
        interval: 700
        running: button.tipWanted && !button.tipShown
        onTriggered: button.tipShown = true
    }

    Rectangle {
        id: tip
        objectName: "toolTip"
        readonly property Item windowItem: button.Window.contentItem
        parent: windowItem ? windowItem : button
        visible: button.tipShown
        z: 1000000
        width: tipText.implicitWidth + 12
        height: tipText.implicitHeight + 12
        color: "#2a2a2a"
        border.color: "#4a4a4a"
        radius: 4

        function place() {
            const above = button.mapToItem(parent, (button.width - width) / 2, -height - 3)
            const room = parent.height - 6
            let y = above.y
            if (y < 6 && above.y + 2 * height + 6 + button.height <= room)
                y = above.y + height + 6 + button.height
            return Qt.point(Math.max(6, Math.min(above.x, parent.width - 6 - width)), y)
        }
        x: visible ? place().x : 0
        y: visible ? place().y : 0

        Text {
            id: tipText
            x: 6
            y: 6
            text: button.toolTip
            font.family: NotchFormat.systemFontFamily
            font.pixelSize: 11
            color: "#f2f2f2"
        }

        // The tip may reach past the notch's outline; the panel keeps it visible there.
        NotchOverlayArea {
            anchors.fill: parent
            radius: parent.radius
        }
    }
}
