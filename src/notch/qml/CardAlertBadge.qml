import QtQuick
import Velline.Notch

// The amber badge naming a fired alert. It grows from nothing and fades in when shown, and
// shrinks and fades out (keeping its last label) when hidden.
Rectangle {
    id: badge

    property bool shown: false
    property string label

    property string lastLabel
    onLabelChanged: if (label !== "") lastLabel = label
    Component.onCompleted: lastLabel = label

    implicitWidth: text.implicitWidth + 16
    implicitHeight: text.implicitHeight + 6
    radius: 4
    color: CardPalette.alertBadge
    visible: opacity > 0
    opacity: shown ? 1 : 0
    scale: shown ? 1 : 0.00001

    Behavior on opacity {
        NumberAnimation {
            duration: NotchFormat.carouselDuration
            easing: NotchFormat.carouselEasing
        }
    }
    Behavior on scale {
        NumberAnimation {
            duration: NotchFormat.carouselDuration
            easing: NotchFormat.carouselEasing
        }
    }

    Text {
        id: text
        anchors.centerIn: parent
        text: badge.lastLabel
        font.family: NotchFormat.systemFontFamily
        font.pixelSize: 10
        font.weight: Font.Bold
        color: CardPalette.badgeText
    }
}
