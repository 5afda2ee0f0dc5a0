import QtQuick
import Velline.Notch

// A symbol's intraday series, 34 points high, as wide as it is laid out. With fewer than two
// samples it shows a dashed line across the middle and a short note.
Item {
    id: root

    property var points: []
    property real previousClose: 0
    property color tint: NotchPalette.textPrimary
    property var spikeIndices: []

    implicitHeight: 34

    SparklineCanvas {
        id: canvas
        // The canvas reaches `bleed` beyond the chart on every side, so the dots at the ends
        // are drawn whole.
        x: -bleed
        y: -bleed
        width: root.width + 2 * bleed
        height: root.height + 2 * bleed
        points: root.points
        previousClose: root.previousClose
        tint: root.tint
        spikeIndices: root.spikeIndices
    }

    Text {
        anchors.centerIn: parent
        visible: !canvas.hasData
        text: canvas.emptyText
        font.family: NotchFormat.systemFontFamily
        font.pixelSize: 9
        font.weight: Font.Normal
        color: canvas.emptyTextColor
    }
}
