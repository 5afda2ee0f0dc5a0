import QtQuick
import QtQuick.Controls

Button {
    text: "Add"
    highlighted: true
    font.pixelSize: 12
}
