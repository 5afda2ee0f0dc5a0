import QtQuick
import Velline.Notch

// The expanded notch as the notch layer lays it out (the card under a 32-point notch, 15
// points of inset at the sides and the bottom), over a strip of desktop.
Rectangle {
    id: desk

    required property var testState
    required property var testPrefs
    property real notchHeight: 32
    property real inset: 15

    width: notch.width + 80
    height: notch.height - notch.radius + 40
    color: "#56657a"
    clip: true

    Rectangle {
        id: notch
        anchors.horizontalCenter: parent.horizontalCenter
        y: -radius
        width: card.width + 2 * desk.inset
        height: desk.notchHeight + card.height + desk.inset + radius
        radius: 22
        color: "black"

        ExpandedContentView {
            id: card
            x: desk.inset
            y: notch.radius + desk.notchHeight
            width: implicitWidth
            height: implicitHeight
            appState: desk.testState
            prefs: desk.testPrefs
        }
    }
}
