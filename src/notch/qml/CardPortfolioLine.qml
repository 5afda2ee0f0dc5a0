import QtQuick
import QtQuick.Layouts
import Velline.Notch

// The day's portfolio result: YOU +$124.00 +1.24% today.
RowLayout {
    id: line

    property ExpandedCardModel model

    spacing: 6

    Text {
        text: "YOU"
        font.family: NotchFormat.systemFontFamily
        font.pixelSize: 10
        font.weight: Font.DemiBold
        font.letterSpacing: 0.5
        color: CardPalette.you
    }
    CardNumber {
        objectName: "amount"
        text: line.model.portfolioAmountText
        pixelSize: 12
        weight: Font.DemiBold
        color: line.model.portfolioColor
    }
    Text {
        objectName: "percent"
        visible: line.model.portfolioPercentVisible
        text: line.model.portfolioPercentText
        font.family: NotchFormat.systemFontFamily
        font.pixelSize: 11
        font.weight: Font.Medium
        color: percentTint.color
        ColorFade {
            id: percentTint
            target: line.model.portfolioPercentColor
            enabled: line.visible
        }
    }
    Text {
        text: "today"
        font.family: NotchFormat.systemFontFamily
        font.pixelSize: 10
        color: CardPalette.today
    }
}
