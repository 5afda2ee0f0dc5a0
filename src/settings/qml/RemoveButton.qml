import QtQuick
import QtQuick.Controls
import Velline.Notch
import Velline.Settings

// The red minus disc at the end of a list row.
AbstractButton {
    id: control

    property string help

    implicitWidth: 22
    implicitHeight: 22
    focusPolicy: Qt.TabFocus
    opacity: pressed ? 0.65 : 1
    Accessible.name: help
    ToolTip.visible: hovered && help !== ""
    ToolTip.text: help
    ToolTip.delay: 500

    contentItem: SymbolImage {
        name: "minus.circle.fill"
        pointSize: 14
        color: Qt.rgba(1, 1, 1, 0.9)
        secondaryColor: SettingsPalette.withOpacity(SettingsPalette.red, 0.85)
    }
}
