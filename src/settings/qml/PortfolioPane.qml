import QtQuick
import QtQuick.Layouts
import Velline.Settings

Column {
    id: pane

    property var prefs
    property SettingsEditor editor
    readonly property var holdings: prefs.holdings

    spacing: 14

    PaneText {
        text: "Share counts power the \"You: +$124 today\" ribbon in the expanded notch. Stored locally — never uploaded."
    }

    SectionCaption { text: "Add Holding" }
    AddRow {
        PlainField {
            id: symbolField
            objectName: "symbolField"
            Layout.preferredWidth: 90
            placeholderText: "Symbol"
        }
        FieldDivider {}
        PlainField {
            id: sharesField
            objectName: "sharesField"
            Layout.fillWidth: true
            placeholderText: "Shares"
        }
        AddButton {
            objectName: "addButton"
            enabled: pane.editor.canAdd(symbolField.text, sharesField.text)
            onClicked: {
                if (pane.editor.addHolding(symbolField.text, sharesField.text)) {
                    symbolField.text = ""
                    sharesField.text = ""
                }
            }
        }
    }

    SectionCaption {
        objectName: "countCaption"
        text: "Holdings (" + pane.holdings.length + ")"
    }
    ListCard {
        count: pane.holdings.length
        emptyText: "No holdings yet. Add one above to see your day P/L at a glance."
        Repeater {
            model: pane.holdings
            delegate: ListRow {
                required property var modelData
                required property int index
                first: index === 0
                SymbolText {
                    Layout.preferredWidth: 80
                    text: modelData.symbol
                }
                Text {
                    objectName: "shareCount"
                    text: pane.editor.shareCountText(modelData.shares)
                    font.pixelSize: 13
                    font.weight: Font.Medium
                    color: SettingsPalette.primary
                }
                Text {
                    text: "shares"
                    font.pixelSize: 11
                    color: SettingsPalette.secondary
                }
                Item { Layout.fillWidth: true }
                RemoveButton {
                    help: "Remove " + modelData.symbol + " from holdings"
                    onClicked: pane.editor.removeHolding(modelData.symbol)
                }
            }
        }
    }
}
