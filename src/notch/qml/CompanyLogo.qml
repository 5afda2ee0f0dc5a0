import QtQuick
import Velline.Notch

// A company's logo as a rounded square of `size` points, or, until the logo is there, a faint
// square with the symbol's first letter. The logo replaces the letter as soon as it arrives.
Item {
    id: root

    property string symbol
    property real size: 14

    readonly property bool hasImage: image.hasImage

    implicitWidth: size
    implicitHeight: size

    LogoImage {
        id: image
        anchors.fill: parent
        symbol: root.symbol
        cornerRadius: 0.22 * root.size
    }

    Rectangle {
        anchors.fill: parent
        visible: !image.hasImage
        radius: 0.22 * root.size
        color: Qt.rgba(1, 1, 1, 0.12)

        Text {
            anchors.centerIn: parent
            text: LogoCache.placeholderLetter(root.symbol)
            font.family: NotchFormat.roundedFontFamily
            font.pixelSize: Math.max(1, 0.55 * root.size)
            font.bold: true
            color: NotchPalette.textPrimary
        }
    }
}
