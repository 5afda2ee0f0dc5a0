import QtQuick
import QtQuick.Controls

// A switch that always shows `value`: flipping it reports `edited` and then follows `value`
// again, so a change that did not take (or one made elsewhere) shows as it is.
Switch {
    id: control

    property bool value
    signal edited(bool on)

    checked: value
    onToggled: {
        control.edited(checked)
        checked = Qt.binding(() => control.value)
    }
}
