import QtQuick
import QtQuick.Shapes
import Velline.NotchLayer

// The notch outline filled in one colour: full-width top edge, concave top fillets of
// `topCornerRadius` that blend into the screen edge, bottom corners of `bottomCornerRadius`.
// The path comes from NotchOutline, which also tells the window where the notch is.
Item {
    id: shape

    property real topCornerRadius: 6
    property real bottomCornerRadius: 14
    property color color: "black"
    // The outline sits this far inside the left and right edges.
    property real horizontalInset: 0.5
    readonly property NotchOutline outline: outline

    NotchOutline {
        id: outline
        anchors.fill: parent
        topCornerRadius: shape.topCornerRadius
        bottomCornerRadius: shape.bottomCornerRadius
        horizontalInset: shape.horizontalInset
    }

    // On the software scene graph the fill paints the outline itself: one frame per step of
    // an animated outline instead of two.
    NotchFill {
        id: fill
        anchors.fill: parent
        visible: supported
        outline: outline
        color: shape.color
    }

    Loader {
        anchors.fill: parent
        active: !fill.supported
        sourceComponent: Shape {
            antialiasing: true
            containsMode: Shape.FillContains

            ShapePath {
                fillColor: shape.color
                strokeColor: "transparent"
                strokeWidth: 0
                PathSvg { path: outline.svgPath }
            }
        }
    }
}
