import QtQuick
import Velline.Settings

// The explanatory text at the top of a pane.
Text {
    width: parent ? parent.width : implicitWidth
    leftPadding: 4
    wrapMode: Text.Wrap
    textFormat: Text.PlainText
    font.pixelSize: 12
    color: SettingsPalette.secondary
}
