import QtQuick
import Velline.NotchLayer

// The notch-shaped layout: a black outline hanging from the top edge around the (assumed)
// physical notch. Compact, the two compact sides sit left and right of a gap exactly as wide
// as the notch; expanded, the card unfolds below it.
Item {
    id: view

    required property NotchController notch
    required property notchStyle style

    readonly property real notchWidth: notch.notchSize.width
    readonly property real notchHeight: notch.notchSize.height
    readonly property real safeAreaInset: 15

    // Measured widths of the compact sides with their outer inset; 0 for a side not shown.
    readonly property bool hasLeading: !notch.disableCompactLeading
                                       && notch.compactLeadingContent !== null
    readonly property bool hasTrailing: !notch.disableCompactTrailing
                                        && notch.compactTrailingContent !== null
    readonly property real compactLeadingWidth: hasLeading ? leadingSlot.implicitWidth + 8 : 0
    readonly property real compactTrailingWidth: hasTrailing ? trailingSlot.implicitWidth + 8 : 0
    // Shifting the compact notch by this keeps the gap over the notch when the sides differ.
    readonly property real compactShift: (compactTrailingWidth - compactLeadingWidth) / 2

    readonly property real rowWidth: compactLeadingWidth + notchWidth + compactTrailingWidth
    readonly property real containerWidth: notch.isCompact ? rowWidth : notchWidth
    readonly property real containerHeight: notch.isCompact && notch.isHovering
                                            ? notch.menubarHeight : notchHeight
    readonly property real blockWidth: Math.max(notchWidth,
                                                expandedSlot.implicitWidth + 2 * safeAreaInset)
    readonly property real blockHeight: notchHeight + expandedSlot.implicitHeight + safeAreaInset

    // Where the outline is heading; the animated values below follow with the change's spring.
    readonly property real targetWidth: notch.isHidden
        ? notch.outlineWidth
        : Math.max(notch.outlineWidth, 2 * notch.topCornerRadius
                   + Math.max(containerWidth, notch.isExpanded ? blockWidth : 0))
    readonly property real targetHeight: notch.isHidden
        ? notchHeight
        : Math.max(notchHeight, containerHeight, notch.isExpanded ? blockHeight : 0)

    property real outlineWidth: targetWidth
    property real outlineHeight: targetHeight
    property real outlineShift: notch.isCompact ? compactShift : 0
    property real topRadius: notch.topCornerRadius
    property real bottomRadius: notch.bottomCornerRadius
    property real shadowOpacity: notch.shadowOpacity
    property real shadowRadius: notch.shadowRadius
    Behavior on outlineWidth { NotchNumberAnimation { notch: view.notch } }
    Behavior on outlineHeight { NotchNumberAnimation { notch: view.notch } }
    Behavior on outlineShift { NotchNumberAnimation { notch: view.notch } }
    Behavior on topRadius { NotchNumberAnimation { notch: view.notch } }
    Behavior on bottomRadius { NotchNumberAnimation { notch: view.notch } }
    Behavior on shadowOpacity { NotchNumberAnimation { notch: view.notch } }
    Behavior on shadowRadius { NotchNumberAnimation { notch: view.notch } }

    Item {
        id: body
        // The physical notch is centred in the view; the body moves by the compact shift.
        x: (view.width - view.outlineWidth) / 2 + view.outlineShift
        y: 0
        width: view.outlineWidth
        height: view.outlineHeight
        // Centre of the physical notch in body coordinates.
        readonly property real notchCenter: width / 2 - view.outlineShift

        NotchGlow {
            id: glow
            source: shape.outline
            x: -Math.ceil(radius * 1.5)
            y: -Math.ceil(radius * 1.5)
            width: parent.width + 2 * Math.ceil(radius * 1.5)
            height: parent.height + 2 * Math.ceil(radius * 1.5)
            radius: view.shadowRadius
            opacity: view.shadowOpacity
            visible: composited && opacity > 0.001 && radius > 0
        }

        NotchShape {
            id: shape
            anchors.fill: parent
            topCornerRadius: view.topRadius
            bottomCornerRadius: view.bottomRadius
        }

        NotchContentSlot {
            id: leadingSlot
            content: view.notch.compactLeadingContent
            section: NotchEnvironment.CompactLeading
            style: view.style
            x: body.notchCenter - view.notchWidth / 2 - width
            y: 4
            height: Math.max(0, view.notchHeight - 12)
            visible: view.hasLeading && opacity > 0
            opacity: view.notch.isCompact ? 1 : 0
            Behavior on opacity { NotchNumberAnimation { notch: view.notch } }
            // Grows sideways out of the notch.
            transform: Scale {
                origin.x: leadingSlot.width
                xScale: view.notch.isCompact ? 1 : 0
                Behavior on xScale { NotchNumberAnimation { notch: view.notch } }
            }
        }

        NotchContentSlot {
            id: trailingSlot
            content: view.notch.compactTrailingContent
            section: NotchEnvironment.CompactTrailing
            style: view.style
            x: body.notchCenter + view.notchWidth / 2
            y: 4
            height: Math.max(0, view.notchHeight - 12)
            visible: view.hasTrailing && opacity > 0
            opacity: view.notch.isCompact ? 1 : 0
            Behavior on opacity { NotchNumberAnimation { notch: view.notch } }
            transform: Scale {
                origin.x: 0
                xScale: view.notch.isCompact ? 1 : 0
                Behavior on xScale { NotchNumberAnimation { notch: view.notch } }
            }
        }

        // The expanded content fades and unfolds inside the outline as it grows and shrinks,
        // never beyond it: it is cut to the largest rectangle the outline holds.
        Item {
            id: expandedClip
            x: shape.outline.contentRect.x
            y: shape.outline.contentRect.y
            width: shape.outline.contentRect.width
            height: shape.outline.contentRect.height
            clip: true

            NotchContentSlot {
                id: expandedSlot
                content: view.notch.expandedContent
                section: NotchEnvironment.Expanded
                style: view.style
                // Below the notch, centred on it.
                x: body.notchCenter - width / 2 - expandedClip.x
                y: view.notchHeight - expandedClip.y
                visible: opacity > 0
                opacity: view.notch.isExpanded ? 1 : 0
                Behavior on opacity { NotchNumberAnimation { notch: view.notch } }
                // Unfolds downwards.
                transform: Scale {
                    origin.y: 0
                    yScale: view.notch.isExpanded ? 1 : 0.6
                    Behavior on yScale { NotchNumberAnimation { notch: view.notch } }
                }
            }
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
