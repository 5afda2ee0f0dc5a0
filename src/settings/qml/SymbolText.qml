import QtQuick
import Velline.Notch
import Velline.Settings

// A ticker symbol in a list row.
Text {
    font.pixelSize: 13
    font.weight: Font.DemiBold
    font.family: NotchFormat.roundedFontFamily
    color: SettingsPalette.primary
    elide: Text.ElideRight
}
