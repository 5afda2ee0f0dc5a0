import QtQuick
import QtQuick.Layouts

// The card with a pane's input fields and its "Add" button.
SettingsCard {
    default property alias fields: row.data

    Item {
        width: parent.width
        implicitHeight: row.implicitHeight + 20
        RowLayout {
            id: row
            anchors.fill: parent
            anchors.leftMargin: 14
            anchors.rightMargin: 14
            anchors.topMargin: 10
            anchors.bottomMargin: 10
            spacing: 8
        }
    }
}
