import QtQuick
import Velline.NotchLayer

// Root of the notch panel: the notch (or, for other styles, the floating pill) hanging from
// the top edge of the panel, centred.
Item {
    id: root

    required property NotchController notch
    // The controller's style resolved for this panel's screen.
    required property notchStyle style

    Loader {
        anchors.fill: parent
        sourceComponent: root.style.isNotch ? notchView : notchlessView
    }

    Component {
        id: notchView
        NotchView {
            notch: root.notch
            style: root.style
        }
    }

    Component {
        id: notchlessView
        NotchlessView {
            notch: root.notch
            style: root.style
        }
    }

    Component.onCompleted: {
        if (notch.animationNamespace === "")
            notch.animationNamespace = "notch";
    }
}
