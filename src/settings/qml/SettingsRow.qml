import QtQuick
import Velline.Settings

// One line of a card: a title, an optional subtitle below it, and the trailing controls.
Item {
    id: row

    property string title
    property string subtitle
    default property alias trailing: trailingRow.data

    width: parent ? parent.width : 0
    implicitHeight: Math.max(texts.implicitHeight, trailingRow.implicitHeight) + 20

    Column {
        id: texts
        x: 14
        anchors.verticalCenter: parent.verticalCenter
        width: row.width - 28 - (trailingRow.implicitWidth > 0 ? trailingRow.implicitWidth + 12 : 0)
        spacing: 2
        Text {
            width: parent.width
            text: row.title
            wrapMode: Text.Wrap
            font.pixelSize: 13
            color: SettingsPalette.primary
        }
        Text {
            width: parent.width
            visible: row.subtitle !== ""
            text: row.subtitle
            wrapMode: Text.Wrap
            font.pixelSize: 11
            color: SettingsPalette.secondary
        }
    }
    Row {
        id: trailingRow
        anchors.right: parent.right
        anchors.rightMargin: 14
        anchors.verticalCenter: parent.verticalCenter
        spacing: 8
    }
}
