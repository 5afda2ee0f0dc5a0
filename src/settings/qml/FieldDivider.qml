import QtQuick
import QtQuick.Layouts
import Velline.Settings

// The short upright line between two fields of an add row.
Rectangle {
    Layout.alignment: Qt.AlignVCenter
    implicitWidth: 1
    implicitHeight: 14
    color: SettingsPalette.primaryAt(0.15)
}
