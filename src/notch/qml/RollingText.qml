import QtQuick
import Velline.Notch

// Text whose changed characters roll: the old one slides up and fades out while the new one
// slides in from below, over `duration` ms with ease-in-out, inside the line (nothing shows
// above or below it). Characters that stay the same stand still. (A change of length re-lays
// the text without rolling.) Digits are tabular: each is centred in a cell as wide as the
// widest digit, so the number keeps its width as it changes (TextGlow lays out the same way).
Item {
    id: root

    property string text
    property font font
    property color color: "white"
    property int duration: 350

    readonly property real figureWidth: NotchFormat.figureWidth(root.font)

    implicitWidth: row.implicitWidth
    implicitHeight: metrics.height
    clip: true

    FontMetrics {
        id: metrics
        font: root.font
    }

    function isFigure(c) {
        return c >= "0" && c <= "9"
    }
    function cellWidth(c) {
        return isFigure(c) ? figureWidth : metrics.advanceWidth(c)
    }
    function inset(c) {
        return isFigure(c) ? (figureWidth - metrics.advanceWidth(c)) / 2 : 0
    }

    Row {
        id: row
        Repeater {
            model: root.text.length
            delegate: Item {
                id: slot

                required property int index
                readonly property string character: root.text.charAt(index)
                property string shown
                property real progress: 1
                property bool ready: false

                implicitWidth: root.cellWidth(shown)
                width: implicitWidth
                height: root.implicitHeight

                Component.onCompleted: {
                    shown = character
                    ready = true
                }
                onCharacterChanged: {
                    // The index arrives while the slot is being made: nothing rolls then.
                    if (!ready || character === shown)
                        return
                    previous.text = shown
                    shown = character
                    roll.restart()
                }

                NumberAnimation on progress {
                    id: roll
                    running: false
                    from: 0
                    to: 1
                    duration: root.duration
                    easing.type: Easing.BezierSpline
                    easing.bezierCurve: [0.42, 0, 0.58, 1, 1, 1]
                }

                Text {
                    id: previous
                    x: root.inset(text)
                    y: -slot.height * 0.5 * slot.progress
                    opacity: 1 - slot.progress
                    visible: slot.progress < 1
                    font: root.font
                    color: root.color
                }
                Text {
                    id: current
                    x: root.inset(text)
                    y: slot.height * 0.5 * (1 - slot.progress)
                    opacity: slot.progress
                    text: slot.shown
                    font: root.font
                    color: root.color
                }
            }
        }
    }
}
