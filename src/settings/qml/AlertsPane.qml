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
        // One Tab stop: the arrow keys (and Space) move the choice within it. The chosen
        // segment is filled with the accent colour, so it reads at a glance on light and dark.
        Rectangle {
            id: picker
            objectName: "directionPicker"
            Layout.preferredWidth: 140
            implicitHeight: 24
            radius: 6
            color: SettingsPalette.primaryAt(0.06)
            border.width: activeFocus ? 2 : 1
            border.color: activeFocus ? SettingsPalette.accent : SettingsPalette.primaryAt(0.18)
            activeFocusOnTab: true
            Accessible.role: Accessible.PageTabList
            Accessible.name: "Direction"
            Keys.onLeftPressed: pane.above = true
            Keys.onRightPressed: pane.above = false
            Keys.onUpPressed: pane.above = true
            Keys.onDownPressed: pane.above = false
            Keys.onSpacePressed: pane.above = !pane.above

            Row {
                anchors.fill: parent
                anchors.margins: 2
                Repeater {
                    model: [{name: "aboveButton", title: "Above", above: true},
                            {name: "belowButton", title: "Below", above: false}]
                    delegate: Button {
                        required property var modelData
                        objectName: modelData.name
                        width: parent.width / 2
                        height: parent.height
                        focusPolicy: Qt.NoFocus
                        highlighted: pane.above === modelData.above
                        Accessible.role: Accessible.PageTab
                        Accessible.name: modelData.title
                        Accessible.selected: highlighted
                        onClicked: pane.above = modelData.above
                        background: Rectangle {
                            radius: 4
                            color: parent.highlighted ? SettingsPalette.accent : "transparent"
                        }
                        contentItem: Text {
                            text: modelData.title
                            font.pixelSize: 12
                            font.weight: parent.highlighted ? Font.DemiBold : Font.Normal
                            color: parent.highlighted ? SettingsPalette.highlightedText
                                                      : SettingsPalette.primary
                            horizontalAlignment: Text.AlignHCenter
                            verticalAlignment: Text.AlignVCenter
                        }
                    }
                }
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
