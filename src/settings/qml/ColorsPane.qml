import QtQuick
import QtQuick.Controls
import Velline.Notch
import Velline.Settings

Column {
    id: pane

    property var prefs
    property SettingsEditor editor

    spacing: 14

    PaneText {
        text: "Pick the palette for upward and downward moves. Loud \"spike\" variants are derived from each base color automatically."
    }

    SectionCaption { text: "Equity (Regular Session)" }
    SettingsCard {
        ColorPickerRow {
            objectName: "equityUpRow"
            prefs: pane.prefs
            key: "equityUp"
            title: "Up"
            subtitle: "Rendered when the stock is green vs previous close."
            onPickRequested: colorOverride.choose("Equity Up Color", Window.window)
        }
        CardDivider {}
        ColorPickerRow {
            objectName: "equityDownRow"
            prefs: pane.prefs
            key: "equityDown"
            title: "Down"
            subtitle: "Rendered when the stock is red vs previous close."
            onPickRequested: colorOverride.choose("Equity Down Color", Window.window)
        }
    }

    SectionCaption { text: "Futures (After Hours)" }
    SettingsCard {
        ColorPickerRow {
            objectName: "futuresUpRow"
            prefs: pane.prefs
            key: "futuresUp"
            title: "Up"
            subtitle: "Overnight ES/NQ futures rising vs yesterday's close."
            onPickRequested: colorOverride.choose("Futures Up Color", Window.window)
        }
        CardDivider {}
        ColorPickerRow {
            objectName: "futuresDownRow"
            prefs: pane.prefs
            key: "futuresDown"
            title: "Down"
            subtitle: "Overnight ES/NQ futures falling vs yesterday's close."
            onPickRequested: colorOverride.choose("Futures Down Color", Window.window)
        }
    }

    Item {
        width: parent.width
        implicitHeight: reset.implicitHeight + 4
        Button {
            id: reset
            objectName: "resetColors"
            y: 4
            font.pixelSize: 12
            onClicked: pane.editor.resetColors()
            contentItem: Row {
                spacing: 5
                SymbolImage {
                    anchors.verticalCenter: parent.verticalCenter
                    name: "arrow.counterclockwise"
                    pointSize: 12
                    color: reset.palette.buttonText
                }
                Text {
                    anchors.verticalCenter: parent.verticalCenter
                    text: "Reset to defaults"
                    font: reset.font
                    color: reset.palette.buttonText
                }
            }
        }
    }
}
