import QtQuick

// Text whose changed characters roll: the old one slides up and fades out while the new one
// slides in from below, over `duration` ms with ease-in-out. Characters that stay the same
// stand still. (A change of length re-lays the text without rolling.)
Item {
    id: root

    property string text
    property font font
    property color color: "white"
    property int duration: 350

    implicitWidth: row.implicitWidth
    implicitHeight: metrics.height

    FontMetrics {
        id: metrics
        font: root.font
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

                implicitWidth: current.implicitWidth
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
                    y: -slot.height * 0.5 * slot.progress
                    opacity: 1 - slot.progress
                    visible: slot.progress < 1
                    font: root.font
                    color: root.color
                }
                Text {
                    id: current
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
