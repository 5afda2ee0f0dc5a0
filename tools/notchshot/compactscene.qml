import QtQuick
import Velline.Notch

// The compact notch as the notch layer lays it out (side slots 20 points high, 4 points from
// the top, 4 points of outer padding), over a strip of desktop.
Rectangle {
    id: desk

    required property var testState
    required property var testPrefs
    property real notchWidth: 190
    property real notchHeight: 32

    width: notch.width + 64
    height: notchHeight + 24
    color: "#56657a"
    clip: true

    Rectangle {
        id: notch
        anchors.horizontalCenter: parent.horizontalCenter
        y: -radius
        width: leading.width + trailing.width + desk.notchWidth + 16
        height: desk.notchHeight + radius
        radius: 10
        color: "black"

        CompactLeadingContentView {
            id: leading
            x: 8
            y: notch.radius + 4
            width: implicitWidth
            height: desk.notchHeight - 12
            appState: desk.testState
            prefs: desk.testPrefs
        }
        CompactTrailingContentView {
            id: trailing
            x: leading.x + leading.width + desk.notchWidth
            y: notch.radius + 4
            width: implicitWidth
            height: desk.notchHeight - 12
            appState: desk.testState
            prefs: desk.testPrefs
        }
    }
}
