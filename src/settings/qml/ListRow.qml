import QtQuick
import QtQuick.Layouts

// One entry of a list card, with the divider above all but the first; its cells left to right.
Column {
    id: entry

    property bool first: false
    default property alias cells: row.data

    width: parent ? parent.width : 0

    CardDivider {
        visible: !entry.first
    }
    Item {
        width: parent.width
        implicitHeight: row.implicitHeight + 18
        RowLayout {
            id: row
            anchors.fill: parent
            anchors.leftMargin: 14
            anchors.rightMargin: 14
            anchors.topMargin: 9
            anchors.bottomMargin: 9
            spacing: 10
        }
    }
}
