import QtQuick
import QtQuick.Layouts
import Velline.Notch

// The card under the notch: the active symbol in detail (header, statistics, intraday chart,
// armed alerts), the carousel footer and the day's portfolio result. Every text, colour and
// visibility comes from ExpandedCardModel; this file only lays them out. It reads no shared
// state: ExpandedContentView feeds it.
Item {
    id: card

    // Inputs.
    property var stocks: []
    property var activeSymbol: null
    // A SwipeDirection.
    property int transitionDirection: 0
    property var alertEvent: null
    property var alertsForActive: []
    property var portfolioDayPL: null
    property var portfolioMarketValue: null
    property notchTheme theme: CardPalette.defaultTheme
    // The quiet line under the header while quotes are stale, and the text of a card without
    // records (FeedNoteModel).
    property string feedLine: ""
    property string emptyText: cardModel.emptyText

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
        dragThreshold: cardModel.dragMinimumDistance()
        property real lastX: 0
        onCentroidChanged: if (active) lastX = centroid.scenePosition.x
        onActiveChanged: {
            if (active)
                lastX = centroid.scenePosition.x
            else
                cardModel.dragEnded(lastX - centroid.scenePressPosition.x)
        }
    }

    Connections {
        target: cardModel
        function onSwipeRequested(direction) { card.swipeRequested(direction) }
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
            text: card.emptyText
            font.family: NotchFormat.systemFontFamily
            font.pixelSize: 13
            font.weight: Font.Medium
            color: NotchPalette.textSecondary
        }

        // The stock block, keyed on its symbol: a change of symbol slides the old block out and
        // the new one in. Clipped a little beyond the card's insets so dots at the chart's
        // ends and badges stay whole while nothing slides past the notch's edge.
        Item {
            id: blockArea
            Layout.fillWidth: true
            implicitWidth: slide.implicitWidth
            implicitHeight: slide.implicitHeight
            visible: cardModel.hasStock

            Item {
                x: -16
                y: -8
                width: blockArea.width + 32
                height: blockArea.height + 16
                clip: true

                SymbolTransition {
                    id: slide
                    objectName: "blockSlide"
                    x: 16
                    y: 8
                    width: blockArea.width
                    key: cardModel.displayedSymbol
                    fromLeading: cardModel.entersFromLeading(card.transitionDirection)
                    delegate: CardStockBlock {
                        width: slide.width
                        note: card.feedLine
                        block: cardModel.block
                        theme: card.theme
                    }
                }
            }
        }
        Connections {
            target: card
            function onAppeared() { if (slide.current) slide.current.appear() }
        }

        CardFooter {
            objectName: "footer"
            Layout.fillWidth: true
            Layout.topMargin: 2
            visible: cardModel.footerVisible
            model: cardModel
            onRemoveActiveRequested: card.removeActiveRequested()
            onOpenSettingsRequested: card.openSettingsRequested()
        }

        CardPortfolioLine {
            objectName: "portfolio"
            Layout.alignment: Qt.AlignHCenter
            visible: cardModel.portfolioVisible
            model: cardModel
        }
    }
}
