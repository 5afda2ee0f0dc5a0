import QtQuick
import Velline.Notch

// The compact view left of the notch: the active symbol's logo and/or ticker, by display
// mode; an em dash without a stock; nothing at all in do-not-disturb mode.
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

    visible: !model.leadingHidden
    implicitWidth: model.leadingHidden ? 0 : transition.implicitWidth + 12
    implicitHeight: model.leadingHidden ? 0 : transition.implicitHeight

    SymbolTransition {
        id: transition
        objectName: "transition"
        anchors.fill: parent
        anchors.leftMargin: 6
        anchors.rightMargin: 6
        key: model.symbol
        fromLeading: NotchFormat.entersFromLeading(root.transitionDirection)
        delegate: leadingContent
    }

    Component {
        id: leadingContent

        Row {
            id: content

            property var stock: root.stock
            // Leaving content keeps showing the symbol it was made for; kept for a later
            // symbol, it follows the active stock again.
            function retire() { stock = stock }
            function revive() { stock = Qt.binding(() => root.stock) }

            spacing: 5

            CompactViewModel {
                id: vm
                stock: content.stock
                theme: root.theme
                displayMode: root.displayMode
            }

            CompanyLogo {
                objectName: "logo"
                anchors.verticalCenter: parent.verticalCenter
                visible: vm.showLogo
                symbol: vm.symbol
                size: 14
            }
            Text {
                objectName: "ticker"
                anchors.verticalCenter: parent.verticalCenter
                visible: vm.showTicker
                text: vm.symbol
                font.family: NotchFormat.roundedFontFamily
                font.pixelSize: 13
                font.weight: Font.DemiBold
                color: NotchPalette.textPrimary
            }
            Text {
                objectName: "placeholder"
                anchors.verticalCenter: parent.verticalCenter
                visible: !vm.hasStock
                text: NotchFormat.placeholderText
                font.family: NotchFormat.systemFontFamily
                font.pixelSize: 13
                font.weight: Font.DemiBold
                color: NotchFormat.leadingPlaceholderColor
            }
        }
    }
}
