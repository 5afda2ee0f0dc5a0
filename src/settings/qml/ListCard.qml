import QtQuick
import Velline.Settings

// A card listing a pane's entries; a line of text stands in while there are none.
SettingsCard {
    id: card

    property int count: 0
    property string emptyText

    Text {
        objectName: "emptyText"
        visible: card.count === 0
        width: parent.width
        padding: 14
        wrapMode: Text.Wrap
        text: card.emptyText
        font.pixelSize: 12
        color: SettingsPalette.secondary
    }
}
