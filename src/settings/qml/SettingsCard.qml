import QtQuick
import Velline.Settings

// A grouped card: its rows stacked without spacing on a faint rounded fill.
Rectangle {
    default property alias content: column.data

    width: parent ? parent.width : implicitWidth
    implicitHeight: column.implicitHeight
    radius: 10
    color: SettingsPalette.primaryAt(0.06)
    border.width: 1
    border.color: SettingsPalette.primaryAt(0.08)

    Column {
        id: column
        width: parent.width
    }
}
