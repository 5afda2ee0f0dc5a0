import QtQuick
import Velline.Notch

// Frames a compact view for the notch: the alert pulse (scale and two glows in the pulse
// colour) around it and the tap rule on it. The pulse and tap state belong to this frame.
Item {
    id: root

    // The watch state; the shared one unless a test hands in another.
    property var appState: AppState
    property notchTheme theme
    default property Item view

    implicitWidth: view ? view.implicitWidth : 0
    implicitHeight: view ? view.implicitHeight : 0

    onViewChanged: {
        if (view) {
            view.parent = body
            view.anchors.fill = body
        }
    }

    // Comes on screen again when the notch goes back to compact.
    onVisibleChanged: if (visible) pulse.appear()

    AlertPulse {
        id: pulse
        event: root.appState.alertEvent
        activeSymbol: root.appState.activeSymbol
        theme: root.theme
        onPulsed: {
            near.refresh()
            far.refresh()
        }
    }

    CompactTapNav {
        id: nav
        state: root.appState
    }

    Item {
        id: scaled
        anchors.fill: parent
        scale: pulse.scale

        ItemGlow {
            id: far
            anchors.centerIn: body
            source: body
            radius: 24
            color: pulse.color
            opacity: pulse.glow * 0.55
            visible: opacity > 0.001
        }
        ItemGlow {
            id: near
            anchors.centerIn: body
            source: body
            radius: 10
            color: pulse.color
            opacity: pulse.glow * 0.95
            visible: opacity > 0.001
        }
        Item {
            id: body
            anchors.fill: parent
        }
    }

    TapHandler {
        onTapped: nav.tap()
    }

    readonly property AlertPulse alertPulse: pulse
    readonly property CompactTapNav tapNav: nav
}
