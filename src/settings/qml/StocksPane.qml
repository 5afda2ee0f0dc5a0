import QtQuick
import QtQuick.Layouts
import Velline.Notch
import Velline.Settings

Column {
    id: pane

    property var prefs
    property SettingsEditor editor
    readonly property var symbols: prefs.trackedSymbols

    spacing: 14

    function add() {
        if (pane.editor.addTrackedSymbol(field.text))
            field.text = ""
    }

    PaneText {
        objectName: "introText"
        textFormat: Text.RichText
        text: pane.editor.codeStyledText(
                  "Symbols shown in the notch carousel during regular hours. Yahoo Finance tickers — use `^GSPC` for the S&P 500, `BRK-B` for multi-class shares.",
                  SettingsPalette.primary, SettingsPalette.primaryAt(0.09))
    }

    SectionCaption { text: "Add Symbol" }
    AddRow {
        SymbolImage {
            name: "magnifyingglass"
            pointSize: 13
            color: SettingsPalette.secondary
        }
        PlainField {
            id: field
            objectName: "symbolField"
            Layout.fillWidth: true
            placeholderText: "e.g. AAPL, MSFT, ^GSPC"
            onAccepted: pane.add()
        }
        AddButton {
            objectName: "addButton"
            enabled: pane.editor.canAddSymbol(field.text)
            onClicked: pane.add()
        }
    }

    SectionCaption {
        objectName: "countCaption"
        text: "Tracked (" + pane.symbols.length + ")"
    }
    ListCard {
        count: pane.symbols.length
        emptyText: "No stocks tracked. Add one above to get started."
        Repeater {
            model: pane.symbols
            delegate: ListRow {
                required property string modelData
                required property int index
                first: index === 0
                // Takes the room the row has and elides the rest, so the remove button stays
                // in view however long a stored symbol is.
                SymbolText {
                    objectName: "symbolText"
                    Layout.fillWidth: true
                    text: modelData
                }
                RemoveButton {
                    objectName: "removeButton"
                    help: "Stop tracking " + modelData
                    onClicked: pane.editor.removeTrackedSymbol(modelData)
                }
            }
        }
    }
}
