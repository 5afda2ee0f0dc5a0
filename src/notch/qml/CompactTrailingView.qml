import QtQuick
import Velline.Notch

// The compact view right of the notch: price, move arrow and percentage in regular mode, the
// percentage alone in the compact modes; an em dash without a stock; nothing at all in
// do-not-disturb mode. Numbers roll and flash when they change.
Item {
    id: root

    property var stock: null
    // A SwipeDirection: the direction of the last carousel step.
    property int transitionDirection: 0
    property notchTheme theme: model.theme
    property string displayMode: "regular"

    CompactViewModel {
        id: model
        stock: root.stock
        displayMode: root.displayMode
    }

    visible: !model.trailingHidden
    implicitWidth: model.trailingHidden ? 0 : transition.implicitWidth + 12
    implicitHeight: model.trailingHidden ? 0 : transition.implicitHeight

    SymbolTransition {
        id: transition
        objectName: "transition"
        anchors.fill: parent
        anchors.leftMargin: 6
        anchors.rightMargin: 6
        key: model.symbol
        fromLeading: NotchFormat.entersFromLeading(root.transitionDirection)
        delegate: trailingContent
    }

    Component {
        id: trailingContent

        Row {
            id: content

            property var stock: root.stock
            // Leaving content keeps showing the symbol it was made for; kept for a later
            // symbol, it follows the active stock again. That happens while it is hidden, so
            // its numbers and colours are laid at once (see RollingText and the fades below)
            // and taken as seen when it shows.
            function retire() { stock = stock }
            function revive() { stock = Qt.binding(() => root.stock) }

            spacing: 4
            // Back on screen: the numbers shown now are taken as seen.
            onVisibleChanged: if (visible) { priceFlash.appear(); percentFlash.appear() }

            CompactViewModel {
                id: vm
                stock: content.stock
                theme: root.theme
                displayMode: root.displayMode
            }
            // They swell the numbers and light their glows themselves, frame by frame.
            TickerFlash {
                id: priceFlash
                value: vm.price
                theme: root.theme
                scaleTarget: price
                glowTarget: priceGlow
            }
            TickerFlash {
                id: percentFlash
                value: vm.changePercent
                theme: root.theme
                scaleTarget: percent
                glowTarget: percentGlow
            }

            Item {
                id: price
                objectName: "price"
                anchors.verticalCenter: parent.verticalCenter
                visible: vm.showPrice
                implicitWidth: priceText.implicitWidth
                implicitHeight: priceText.implicitHeight

                TextGlow {
                    id: priceGlow
                    anchors.centerIn: priceText
                    text: vm.priceText
                    font: priceText.font
                    radius: 5
                    color: priceFlash.color
                }
                RollingText {
                    id: priceText
                    objectName: "priceText"
                    text: vm.priceText
                    font.family: NotchFormat.roundedFontFamily
                    font.pixelSize: 12
                    font.weight: Font.Normal
                    color: NotchPalette.textSecondary
                }
            }

            SymbolImage {
                objectName: "arrow"
                anchors.verticalCenter: parent.verticalCenter
                visible: vm.showArrow
                name: vm.arrowName
                pointSize: 8
                weight: Font.Black
                color: arrowTint.color
                ColorFade { id: arrowTint; target: vm.arrowColor; enabled: content.visible }
            }

            Item {
                id: percent
                objectName: "percent"
                anchors.verticalCenter: parent.verticalCenter
                visible: vm.showPercent
                implicitWidth: percentText.implicitWidth
                implicitHeight: percentText.implicitHeight

                // Spiking: a steady glow in the direction colour.
                TextGlow {
                    anchors.centerIn: percentText
                    visible: vm.isSpiking
                    text: vm.percentText
                    font: percentText.font
                    radius: 3
                    color: vm.percentGlowColor
                }
                TextGlow {
                    id: percentGlow
                    anchors.centerIn: percentText
                    text: vm.percentText
                    font: percentText.font
                    radius: 5
                    color: percentFlash.color
                }
                RollingText {
                    id: percentText
                    objectName: "percentText"
                    text: vm.percentText
                    font.family: NotchFormat.roundedFontFamily
                    font.pixelSize: 13
                    font.weight: vm.percentWeight
                    color: percentTint.color
                    ColorFade { id: percentTint; target: vm.percentColor; enabled: content.visible }
                }
            }

            Text {
                objectName: "placeholder"
                anchors.verticalCenter: parent.verticalCenter
                visible: !vm.hasStock
                text: NotchFormat.placeholderText
                font.family: NotchFormat.systemFontFamily
                font.pixelSize: 13
                font.weight: Font.Medium
                color: NotchFormat.trailingPlaceholderColor
            }
        }
    }
}
