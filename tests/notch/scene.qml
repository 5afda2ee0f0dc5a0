import QtQuick
import Velline.Notch

Rectangle {
    required property var testState
    required property var testPrefs

    width: 400
    height: 32
    color: "black"

    Row {
        anchors.fill: parent
        spacing: 100
        CompactLeadingContentView {
            objectName: "leading"
            height: 20
            appState: testState
            prefs: testPrefs
        }
        CompactTrailingContentView {
            objectName: "trailing"
            height: 20
            appState: testState
            prefs: testPrefs
        }
    }
}
