import QtQuick
import QtQuick.Layouts
import Velline.Notch
import Velline.NotchLayer

// The card under the notch: the active symbol in detail (header, statistics, intraday chart,
// armed alerts), the carousel footer and the day's portfolio result. Every text, colour and
// visibility comes from ExpandedCardModel; this file only lays them out. It reads no shared
// state: ExpandedContentView feeds it.
Item {
    id: card

    // Inputs.
    property var stocks: []
    property var activeSymbol: null
    property int transitionDirection: SwipeDirection.Left
    property var alertEvent: null
    property var alertsForActive: []
    property var portfolioDayPL: null
    property var portfolioMarketValue: null
    property notchTheme theme

    // Actions. `direction` is a SwipeDirection.
    signal swipeRequested(int direction)
    signal removeActiveRequested()
    signal openSettingsRequested()

    readonly property ExpandedCardModel model: cardModel
    // The stock block on screen (the one sliding in during a change of symbol).
    readonly property Item currentBlock: slide.current

    // Flashes start afresh each time the card comes on screen.
    signal appeared()
    onVisibleChanged: if (visible) appeared()

    implicitWidth: Math.max(340, column.implicitWidth + 40)
    implicitHeight: column.implicitHeight + 28

    ExpandedCardModel {
        id: cardModel
        objectName: "cardModel"
        stocks: card.stocks
        activeSymbol: card.activeSymbol
        alertEvent: card.alertEvent
        alertsForActive: card.alertsForActive
        portfolioDayPL: card.portfolioDayPL
        portfolioMarketValue: card.portfolioMarketValue
        theme: card.theme
    }

    // A horizontal drag across the card steps the carousel once it ends beyond 40 points.
    DragHandler {
        id: drag
        objectName: "cardDrag"
        target: null
        xAxis.enabled: true
        yAxis.enabled: false
        dragThreshold: ExpandedCardModel.dragMinimumDistance()
        property real lastX: 0
        onCentroidChanged: if (active) lastX = centroid.scenePosition.x
        onActiveChanged: {
            if (active) {
                lastX = centroid.scenePosition.x
                return
            }
            const direction = ExpandedCardModel.swipeForDrag(lastX - centroid.scenePressPosition.x)
            if (direction !== SwipeDirection.None)
                card.swipeRequested(direction)
        }
    }

    ColumnLayout {
        id: column
        x: 20
        y: 14
        width: card.width - 40
        spacing: 10

        Text {
            objectName: "emptyText"
            Layout.alignment: Qt.AlignHCenter
            visible: !cardModel.hasStock
            text: cardModel.emptyText
            font.pixelSize: 13
            font.weight: Font.Medium
            color: NotchPalette.textSecondary
        }

        CarouselSlide {
            id: slide
            objectName: "blockSlide"
            Layout.fillWidth: true
            visible: cardModel.hasStock
            key: cardModel.displayedSymbol
            direction: card.transitionDirection
            delegate: StockBlock {
                width: slide.width
                block: cardModel.block
                theme: card.theme
                appearSignal: card
            }
        }

        CardFooter {
            objectName: "footer"
            Layout.fillWidth: true
            Layout.topMargin: 2
            visible: cardModel.footerVisible
            model: cardModel
            onSwipeRequested: direction => card.swipeRequested(direction)
            onRemoveActiveRequested: card.removeActiveRequested()
            onOpenSettingsRequested: card.openSettingsRequested()
        }

        PortfolioLine {
            objectName: "portfolio"
            Layout.alignment: Qt.AlignHCenter
            visible: cardModel.portfolioVisible
            model: cardModel
        }
    }
}
