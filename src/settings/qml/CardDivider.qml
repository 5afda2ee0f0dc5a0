import QtQuick
import Velline.Settings

// A hairline between the rows of a card, indented like the rows' text.
Item {
    width: parent ? parent.width : 0
    height: 1
    Rectangle {
        x: 14
        width: parent.width - 14
        height: 1
        color: SettingsPalette.primaryAt(0.1)
    }
}
