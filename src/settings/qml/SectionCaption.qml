import QtQuick
import Velline.Settings

// The caption above a card, in small capitals.
Text {
    leftPadding: 4
    topPadding: 6
    font.pixelSize: 11
    font.weight: Font.DemiBold
    font.letterSpacing: 0.5
    font.capitalization: Font.AllUppercase
    color: SettingsPalette.secondary
}
