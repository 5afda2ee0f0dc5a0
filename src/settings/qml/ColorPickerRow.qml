import QtQuick
import QtQuick.Controls
import Velline.Notch
import Velline.Settings

// A colour of the notch: the swatch shows the override or the built-in colour; the revert
// button is there only while an override is set.
SettingsRow {
    id: row

    property var prefs
    property alias key: override.key
    readonly property ColorOverride colorOverride: override
    signal pickRequested()

    ColorOverride {
        id: override
        prefs: row.prefs
    }

    AbstractButton {
        objectName: "revert"
        anchors.verticalCenter: parent.verticalCenter
        visible: override.isSet
        implicitWidth: 20
        implicitHeight: 20
        focusPolicy: Qt.TabFocus
        Accessible.name: "Revert to the built-in default"
        ToolTip.visible: hovered
        ToolTip.text: "Revert to the built-in default"
        ToolTip.delay: 500
        onClicked: override.revert()
        contentItem: SymbolImage {
            name: "arrow.uturn.backward"
            pointSize: 10
            weight: Font.DemiBold
            color: SettingsPalette.secondary
        }
    }
    AbstractButton {
        objectName: "swatch"
        anchors.verticalCenter: parent.verticalCenter
        implicitWidth: 36
        implicitHeight: 22
        focusPolicy: Qt.TabFocus
        Accessible.name: row.title + " color"
        onClicked: row.pickRequested()
        background: Rectangle {
            radius: 5
            color: override.color
            border.width: 1
            border.color: SettingsPalette.primaryAt(0.25)
        }
    }
}
