import QtQuick
import QtQuick.Layouts
import Velline.Notch

// The card's controls: settings at the leading end, the pager (back, one dot per record,
// forward) in the middle, and removing the shown symbol at the trailing end.
RowLayout {
    id: footer

    property ExpandedCardModel model

    signal removeActiveRequested()
    signal openSettingsRequested()

    spacing: 10

    CardButton {
        objectName: "settingsButton"
        symbol: "gearshape.fill"
        pointSize: 11
        weight: Font.Medium
        color: CardPalette.settingsButton
        padding: 3
        toolTip: "Velline settings\u2026"
        onClicked: footer.openSettingsRequested()
    }

    Item { Layout.fillWidth: true }

    Row {
        objectName: "pager"
        spacing: 6

        CardButton {
            objectName: "backButton"
            anchors.verticalCenter: parent.verticalCenter
            symbol: "backward.fill"
            pointSize: 11
            weight: Font.DemiBold
            color: CardPalette.pagerButton
            target: 20
            onClicked: footer.model.stepBack()
        }

        Repeater {
            objectName: "dots"
            model: footer.model ? footer.model.stockCount : 0
            Rectangle {
                required property int index
                anchors.verticalCenter: parent.verticalCenter
                width: 5
                height: 5
                radius: 2.5
                color: index === footer.model.displayedIndex ? CardPalette.dotCurrent
                                                              : CardPalette.dotOther
            }
        }

        CardButton {
            objectName: "forwardButton"
            anchors.verticalCenter: parent.verticalCenter
            symbol: "forward.fill"
            pointSize: 11
            weight: Font.DemiBold
            color: CardPalette.pagerButton
            target: 20
            onClicked: footer.model.stepForward()
        }
    }

    Item { Layout.fillWidth: true }

    CardButton {
        objectName: "removeButton"
        symbol: "minus.circle.fill"
        pointSize: 11
        weight: Font.Medium
        color: CardPalette.removeBar
        secondaryColor: CardPalette.removeCircle
        padding: 3
        toolTip: footer.model ? footer.model.removeTooltip : ""
        onClicked: footer.removeActiveRequested()
    }
}
