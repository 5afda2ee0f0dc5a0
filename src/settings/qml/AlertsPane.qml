import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Velline.Settings

Column {
    id: pane

    property var prefs
    property SettingsEditor editor
    readonly property var alerts: prefs.priceAlerts
    property bool above: true

    spacing: 14

    PaneText {
        text: "Pulse the notch when a stock crosses a level you care about — fires once per cross, not continuously."
    }

    SectionCaption { text: "Add Alert" }
    AddRow {
        PlainField {
            id: symbolField
            objectName: "symbolField"
            Layout.preferredWidth: 80
            placeholderText: "Symbol"
        }
        FieldDivider {}
        Row {
            objectName: "directionPicker"
            Layout.preferredWidth: 140
            Button {
                objectName: "aboveButton"
                width: 70
                text: "Above"
                font.pixelSize: 12
                highlighted: pane.above
                onClicked: pane.above = true
            }
            Button {
                objectName: "belowButton"
                width: 70
                text: "Below"
                font.pixelSize: 12
                highlighted: !pane.above
                onClicked: pane.above = false
            }
        }
        FieldDivider {}
        PlainField {
            id: priceField
            objectName: "priceField"
            Layout.fillWidth: true
            placeholderText: "Price"
        }
        AddButton {
            objectName: "addButton"
            enabled: pane.editor.canAdd(symbolField.text, priceField.text)
            onClicked: {
                if (pane.editor.addAlert(symbolField.text, priceField.text, pane.above)) {
                    symbolField.text = ""
                    priceField.text = ""
                }
            }
        }
    }

    SectionCaption {
        objectName: "countCaption"
        text: "Armed (" + pane.alerts.length + ")"
    }
    ListCard {
        count: pane.alerts.length
        emptyText: "No alerts armed. Add one above to start watching a level."
        Repeater {
            model: pane.alerts
            delegate: ListRow {
                required property var modelData
                required property int index
                readonly property string fired: pane.editor.firedText(modelData.lastTriggered)
                first: index === 0
                SymbolText {
                    Layout.preferredWidth: 70
                    text: modelData.symbol
                }
                DirectionBadge {
                    above: modelData.isAbove
                }
                Text {
                    text: pane.editor.priceText(modelData.price)
                    font.pixelSize: 13
                    font.weight: Font.Medium
                    color: SettingsPalette.primary
                }
                Text {
                    objectName: "firedText"
                    visible: fired !== ""
                    text: fired
                    font.pixelSize: 10
                    color: SettingsPalette.secondary
                }
                Item { Layout.fillWidth: true }
                RemoveButton {
                    help: "Remove alert"
                    onClicked: pane.editor.removeAlert(modelData.id)
                }
            }
        }
    }

    SectionCaption { text: "Notifications" }
    SettingsCard {
        SettingsRow {
            title: "Also send a desktop notification"
            subtitle: "Each price alert and spike also shows as a desktop notification, replacing the previous one."
            BoundSwitch {
                objectName: "notifySwitch"
                value: pane.prefs.desktopNotifications
                onEdited: on => pane.prefs.desktopNotifications = on
            }
        }
    }
}
