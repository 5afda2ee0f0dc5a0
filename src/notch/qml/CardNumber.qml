import QtQuick
import Velline.Notch

// A figure of the card: its digits roll and its colour eases over 0.35 s when it changes, it
// glows softly while `glowing`, and it scales and glows with its TickerFlash when the value
// behind it changes.
Item {
    id: root

    property string text
    property real pixelSize: 12
    property int weight: Font.Normal
    property string family: ""
    property color color: NotchPalette.textPrimary
    property bool glowing: false
    property TickerFlash flash: null

    implicitWidth: label.implicitWidth
    implicitHeight: label.implicitHeight

    // The flash swells this figure and lights its glow itself, frame by frame.
    function handOver() {
        if (flash) {
            flash.scaleTarget = root
            flash.glowTarget = flashGlow
        }
    }
    onFlashChanged: handOver()
    Component.onCompleted: handOver()

    // Carries the font; the rolling text below draws.
    Text {
        id: fontSource
        visible: false
        text: root.text
        font.family: root.family !== "" ? root.family : NotchFormat.systemFontFamily
        font.pixelSize: root.pixelSize
        font.weight: root.weight
    }

    // Nothing animates while the card is off screen.
    property alias shownColor: tint.color
    ColorFade {
        id: tint
        target: root.color
        enabled: root.visible
    }

    TextGlow {
        anchors.centerIn: label
        visible: root.glowing
        text: root.text
        font: fontSource.font
        radius: 3
        color: CardPalette.faded(root.shownColor, 0.35)
    }

    TextGlow {
        id: flashGlow
        objectName: "flashGlow"
        anchors.centerIn: label
        visible: false
        opacity: 0
        text: root.text
        font: fontSource.font
        radius: 5
        color: root.flash ? root.flash.color : "transparent"
    }

    RollingText {
        id: label
        anchors.centerIn: parent
        text: root.text
        font: fontSource.font
        color: root.shownColor
        duration: root.visible ? 350 : 0
    }
}
