import QtQuick
import Velline.Notch
import Velline.NotchLayer
import Velline.QuickAdd

// The quick-add card: a search row (magnifying glass, the ticker field, the Return badge while
// there is text) and, while the field is empty, the recently added symbols. The window around it
// leaves room for the card's shadow.
FocusScope {
    id: root

    required property QuickAddController controller

    readonly property real margin: 22
    readonly property color primary: Qt.rgba(1, 1, 1, 0.92)
    readonly property color secondary: Qt.rgba(0.92, 0.92, 0.96, 0.6)
    readonly property color accent: Qt.rgba(0.04, 0.52, 1.0, 0.85)
    readonly property string rounded: NotchFormat.roundedFontFamily

    // Known at once (no layout pass needed), so the first show already has the final size.
    readonly property real rowHeight: Math.max(rowMetrics.height, 18) + 14
    readonly property int rowCount: Math.min(controller.recentRows.length, 6)
    readonly property real recentsHeight: controller.showsRecents
        ? divider.height + heading.implicitHeight + rowCount * rowHeight + recentList.bottomPadding
        : 0

    implicitWidth: 680
    implicitHeight: searchRow.height + recentsHeight + 2 * margin
    onImplicitHeightChanged: controller.reportSize(implicitWidth, implicitHeight)
    Component.onCompleted: controller.reportSize(implicitWidth, implicitHeight)

    Keys.onEscapePressed: controller.hide()

    FontMetrics {
        id: rowMetrics
        font.family: root.rounded
        font.pixelSize: 14
        font.weight: Font.DemiBold
    }

    NotchOutline {
        id: outline
        anchors.fill: card
        pill: true
        cornerRadius: 14
    }

    // A soft shadow below the card that fades out inside the window's margin (a wider one
    // would end in a visible edge where the window does).
    NotchGlow {
        source: outline
        radius: 16
        opacity: 0.5
        x: card.x - Math.ceil(radius * 1.5)
        y: card.y + 6 - Math.ceil(radius * 1.5)
        width: card.width + 2 * Math.ceil(radius * 1.5)
        height: card.height + 2 * Math.ceil(radius * 1.5)
        visible: root.controller.translucent
    }

    Rectangle {
        id: card
        anchors.fill: parent
        anchors.margins: root.margin
        radius: 14
        // Without a compositor nothing shows through: an opaque card of the same tone.
        color: root.controller.translucent ? Qt.rgba(0.11, 0.11, 0.12, 0.86)
                                           : Qt.rgba(0.12, 0.12, 0.13, 1)
        border.width: 0.5
        border.color: Qt.rgba(1, 1, 1, 0.09)
        antialiasing: true
        clip: true

        Column {
            id: column
            width: parent.width

            Item {
                id: searchRow
                width: parent.width
                height: Math.max(field.implicitHeight, glass.implicitHeight) + 32

                SymbolImage {
                    id: glass
                    x: 18
                    anchors.verticalCenter: parent.verticalCenter
                    name: "magnifyingglass"
                    pointSize: 18
                    weight: Font.Medium
                    color: root.secondary
                }

                TextInput {
                    id: field
                    objectName: "tickerField"
                    anchors.left: glass.right
                    anchors.leftMargin: 12
                    anchors.right: badge.visible ? badge.left : parent.right
                    anchors.rightMargin: badge.visible ? 12 : 18
                    anchors.verticalCenter: parent.verticalCenter
                    focus: true
                    font.family: root.rounded
                    font.pixelSize: 22
                    color: root.primary
                    selectionColor: root.accent
                    selectedTextColor: "white"
                    clip: true
                    text: root.controller.query
                    onTextEdited: root.controller.query = text
                    Keys.onReturnPressed: root.controller.submit()
                    Keys.onEnterPressed: root.controller.submit()

                    Text {
                        anchors.fill: parent
                        verticalAlignment: Text.AlignVCenter
                        visible: field.text === ""
                        text: root.controller.placeholderText
                        font: field.font
                        color: root.secondary
                        elide: Text.ElideRight
                    }
                }

                Rectangle {
                    id: badge
                    objectName: "returnBadge"
                    visible: root.controller.query !== ""
                    anchors.right: parent.right
                    anchors.rightMargin: 18
                    anchors.verticalCenter: parent.verticalCenter
                    width: badgeText.implicitWidth + 16
                    height: badgeText.implicitHeight + 6
                    radius: 6
                    color: root.accent
                    Text {
                        id: badgeText
                        anchors.centerIn: parent
                        text: root.controller.returnBadge
                        font.family: root.rounded
                        font.pixelSize: 12
                        font.weight: Font.DemiBold
                        color: Qt.rgba(1, 1, 1, 0.9)
                    }
                }
            }

            Rectangle {
                id: divider
                visible: root.controller.showsRecents
                width: parent.width
                height: 1
                color: Qt.rgba(1, 1, 1, 0.25 * 0.35)
            }

            Column {
                id: recentList
                objectName: "recentList"
                visible: root.controller.showsRecents
                width: parent.width
                bottomPadding: 6

                Text {
                    id: heading
                    leftPadding: 18
                    rightPadding: 18
                    topPadding: 10
                    bottomPadding: 4
                    text: root.controller.recentHeading
                    font.family: root.rounded
                    font.pixelSize: 10
                    font.weight: Font.DemiBold
                    font.letterSpacing: 0.6
                    color: root.secondary
                }

                Repeater {
                    model: root.controller.showsRecents ? root.controller.recentRows : []
                    delegate: RecentRow {
                        required property var modelData
                        width: parent ? parent.width : 0
                        height: root.rowHeight
                        symbol: modelData.symbol
                        tracked: modelData.tracked
                        controller: root.controller
                        primary: root.primary
                        secondary: root.secondary
                        fontFamily: root.rounded
                    }
                }
            }
        }
    }

    Connections {
        target: root.controller
        function onQueryChanged() {
            if (field.text !== root.controller.query)
                field.text = root.controller.query
        }
        function onShown() {
            field.forceActiveFocus()
            field.cursorPosition = field.text.length
        }
    }
}
