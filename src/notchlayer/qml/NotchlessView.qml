import QtQuick
import Velline.NotchLayer

// The floating pill for screens without a notch: a dark translucent card below the top panel
// while expanded, parked fully above the screen edge otherwise. It has no compact form.
Item {
    id: view

    required property NotchController notch
    required property notchStyle style

    readonly property real safeAreaInset: 15
    readonly property real cornerRadius: style.isFloating ? style.cornerRadius : 20
    // Height of the pill with its 20-point padding.
    readonly property real windowHeight: pill.height + 40

    property real offset: notch.isExpanded ? notch.notchSize.height : -windowHeight
    property real shadowOpacity: notch.shadowOpacity
    property real shadowRadius: notch.shadowRadius
    Behavior on offset { NotchNumberAnimation { notch: view.notch } }
    Behavior on shadowOpacity { NotchNumberAnimation { notch: view.notch } }
    Behavior on shadowRadius { NotchNumberAnimation { notch: view.notch } }

    Item {
        id: pill
        x: (view.width - width) / 2
        y: view.offset + 20
        width: slot.implicitWidth + 2 * view.safeAreaInset
        height: slot.implicitHeight + 2 * view.safeAreaInset

        NotchGlow {
            id: glow
            source: outline
            x: -Math.ceil(radius * 1.5)
            y: -Math.ceil(radius * 1.5)
            width: parent.width + 2 * Math.ceil(radius * 1.5)
            height: parent.height + 2 * Math.ceil(radius * 1.5)
            radius: view.shadowRadius
            opacity: view.shadowOpacity
            visible: composited && opacity > 0.001 && radius > 0
        }

        NotchOutline {
            id: outline
            anchors.fill: parent
            pill: true
            cornerRadius: view.cornerRadius
        }

        // Translucent material: a dark fill with a hairline border (no background blur here).
        Rectangle {
            anchors.fill: parent
            radius: view.cornerRadius
            color: Qt.rgba(0.118, 0.118, 0.118, 0.85)
            border.width: 1
            border.color: Qt.rgba(1, 1, 1, 0.1)
            antialiasing: true
        }

        NotchContentSlot {
            id: slot
            x: view.safeAreaInset
            y: view.safeAreaInset
            content: view.notch.expandedContent
            section: NotchEnvironment.Expanded
            style: view.style
            visible: opacity > 0
            opacity: view.notch.isExpanded ? 1 : 0
            Behavior on opacity { NotchNumberAnimation { notch: view.notch } }
        }

        HoverHandler {
            onHoveredChanged: view.notch.updateHoverState(hovered)
        }

        TapHandler {
            acceptedButtons: Qt.RightButton
            onTapped: view.notch.requestContextMenu()
        }
    }
}
