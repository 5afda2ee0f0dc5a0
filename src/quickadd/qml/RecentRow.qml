import QtQuick
import Velline.Notch
import Velline.QuickAdd

// One recently added symbol: choosing it adds it again (or just makes it active when it is still
// tracked) through the same path as a typed ticker.
Item {
    id: row

    required property QuickAddController controller
    property string symbol
    property bool tracked
    property color primary
    property color secondary
    property string fontFamily

    objectName: "recent:" + symbol
    implicitHeight: Math.max(label.implicitHeight, 18) + 14

    Rectangle {
        anchors.fill: parent
        color: mouse.containsMouse || mouse.pressed ? Qt.rgba(1, 1, 1, 0.08) : "transparent"
    }

    Row {
        anchors.left: parent.left
        anchors.leftMargin: 18
        anchors.verticalCenter: parent.verticalCenter
        spacing: 10

        SymbolImage {
            anchors.verticalCenter: parent.verticalCenter
            name: "clock.arrow.circlepath"
            pointSize: 11
            weight: Font.Medium
            color: row.secondary
        }
        Text {
            id: label
            anchors.verticalCenter: parent.verticalCenter
            text: row.symbol
            font.family: row.fontFamily
            font.pixelSize: 14
            font.weight: Font.DemiBold
            color: row.primary
        }
        Text {
            anchors.verticalCenter: parent.verticalCenter
            visible: row.tracked
            text: row.controller.trackedCaption
            font.family: row.fontFamily
            font.pixelSize: 10
            color: row.secondary
        }
    }

    SymbolImage {
        anchors.right: parent.right
        anchors.rightMargin: 18
        anchors.verticalCenter: parent.verticalCenter
        name: "return"
        pointSize: 10
        weight: Font.Medium
        color: Qt.rgba(row.secondary.r, row.secondary.g, row.secondary.b, row.secondary.a * 0.7)
    }

    MouseArea {
        id: mouse
        anchors.fill: parent
        hoverEnabled: true
        onClicked: row.controller.choose(row.symbol)
    }
}
