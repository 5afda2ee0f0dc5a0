import QtQuick
import QtQuick.Controls
import Velline.Settings

// A text field without a frame of its own: the card around it is the frame.
TextField {
    leftPadding: 2
    rightPadding: 2
    font.pixelSize: 13
    selectByMouse: true
    color: SettingsPalette.primary
    placeholderTextColor: SettingsPalette.withOpacity(SettingsPalette.primary, 0.4)
    background: Item {}
}
