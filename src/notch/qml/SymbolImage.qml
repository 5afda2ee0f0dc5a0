import QtQuick
import Velline.Notch

// A named symbol image ("arrow.up", "gearshape.fill" ...) at a text size, weight and colour.
// A two-colour symbol draws its second layer in `secondaryColor` when one is given.
Item {
    id: root

    property string name
    property real pointSize: 13
    property int weight: Font.Normal
    property color color: NotchPalette.textPrimary
    property color secondaryColor: "transparent"

    readonly property bool layered: secondaryColor.a > 0 && NotchFormat.backGlyph(name) !== ""

    implicitWidth: glyph.implicitWidth
    implicitHeight: glyph.implicitHeight

    component Glyph: Text {
        anchors.centerIn: parent
        font.family: NotchFormat.iconFontFamily
        font.pixelSize: NotchFormat.symbolPixelSize(root.pointSize)
        // The icon font has one weight: heavy symbols get a hairline outline in their own colour.
        style: root.weight >= Font.Bold ? Text.Outline : Text.Normal
        styleColor: color
        renderType: Text.QtRendering
    }

    Glyph {
        visible: root.layered
        text: root.layered ? NotchFormat.backGlyph(root.name) : ""
        color: root.secondaryColor
    }
    Glyph {
        id: glyph
        text: root.layered ? NotchFormat.frontGlyph(root.name) : NotchFormat.glyph(root.name)
        color: root.color
    }
}
