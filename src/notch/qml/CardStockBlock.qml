import QtQuick
import QtQuick.Layouts
import Velline.Notch

// The card's detail of one record: header, statistics, intraday chart and armed alerts.
// Everything it draws is in `block` (a CardBlock).
ColumnLayout {
    id: root

    property var block
    property notchTheme theme
    // A quiet line under the header (the feed's status), or nothing.
    property string note: ""
    // Called when the card comes on screen again: flashes start afresh.
    function appear() {
        changeFlash.appear()
        priceFlash.appear()
    }
    // The block slides out: it keeps showing the record it had.
    function retire() {
        block = block
    }

    spacing: 10

    // Flashes run only while the card is on screen.
    TickerFlash {
        id: changeFlash
        value: root.block.changePercent
        theme: root.theme
        isActive: root.visible
    }
    TickerFlash {
        id: priceFlash
        value: root.block.price
        theme: root.theme
        isActive: root.visible
    }

    // Header: logo, ticker, badges, the day's change.
    RowLayout {
        objectName: "header"
        Layout.alignment: Qt.AlignHCenter
        spacing: 10

        CompanyLogo {
            symbol: root.block.symbol
            size: 26
        }

        Text {
            objectName: "ticker"
            text: root.block.symbol
            font.family: NotchFormat.roundedFontFamily
            font.pixelSize: 24
            font.weight: Font.Bold
            color: NotchPalette.textPrimary
        }

        Rectangle {
            objectName: "modeBadge"
            visible: root.block.modeBadgeText !== ""
            implicitWidth: modeLabel.implicitWidth + 14
            implicitHeight: modeLabel.implicitHeight + 4
            radius: 4
            color: CardPalette.modeBadgeFill(root.theme)
            Text {
                id: modeLabel
                anchors.centerIn: parent
                text: root.block.modeBadgeText
                font.family: NotchFormat.systemFontFamily
                font.pixelSize: 9
                font.weight: Font.Bold
                font.letterSpacing: 0.6
                color: CardPalette.badgeText
            }
        }

        CardAlertBadge {
            objectName: "alertBadge"
            shown: root.block.alertBadgeVisible
            label: root.block.alertBadgeText
        }

        CardNumber {
            objectName: "change"
            text: root.block.percentText
            pixelSize: 22
            weight: Font.Bold
            color: root.block.directionColor
            glowing: root.block.isSpiking
            flash: changeFlash
        }
    }

    Text {
        objectName: "feedNote"
        Layout.alignment: Qt.AlignHCenter
        Layout.topMargin: -6
        visible: root.note !== ""
        text: root.note
        font.family: NotchFormat.systemFontFamily
        font.pixelSize: 10
        color: CardPalette.caption
    }

    // Statistics: price, five-minute move, volume surge, previous close, context tag.
    Row {
        objectName: "statistics"
        Layout.alignment: Qt.AlignHCenter
        spacing: 6

        CardNumber {
            objectName: "price"
            anchors.verticalCenter: parent.verticalCenter
            text: root.block.priceText
            pixelSize: 12
            weight: Font.Medium
            color: CardPalette.price
            flash: priceFlash
        }

        Bullet { visible: root.block.moveVisible }
        Row {
            objectName: "move"
            visible: root.block.moveVisible
            anchors.verticalCenter: parent.verticalCenter
            spacing: 2
            SymbolImage {
                anchors.verticalCenter: parent.verticalCenter
                name: root.block.moveSymbol
                pointSize: 9
                weight: Font.ExtraBold
                color: root.block.moveColor
            }
            Text {
                anchors.verticalCenter: parent.verticalCenter
                text: root.block.moveText
                font.family: NotchFormat.systemFontFamily
                font.pixelSize: 11
                font.weight: Font.DemiBold
                color: root.block.moveColor
            }
        }

        Bullet { visible: root.block.volumeVisible }
        Row {
            objectName: "volume"
            visible: root.block.volumeVisible
            anchors.verticalCenter: parent.verticalCenter
            spacing: 2
            SymbolImage {
                anchors.verticalCenter: parent.verticalCenter
                name: "chart.bar.fill"
                pointSize: 11
                weight: Font.DemiBold
                color: root.block.volumeColor
            }
            SymbolImage {
                anchors.verticalCenter: parent.verticalCenter
                name: "arrow.up"
                pointSize: 9
                weight: Font.ExtraBold
                color: root.block.volumeColor
            }
            Text {
                anchors.verticalCenter: parent.verticalCenter
                text: root.block.volumeText
                font.family: NotchFormat.systemFontFamily
                font.pixelSize: 11
                font.weight: Font.DemiBold
                color: root.block.volumeColor
            }
        }

        Bullet {}
        Text {
            objectName: "previousClose"
            anchors.verticalCenter: parent.verticalCenter
            text: root.block.previousCloseText
            font.family: NotchFormat.systemFontFamily
            font.pixelSize: 11
            color: CardPalette.bullet
        }

        Bullet { visible: root.block.contextTag !== "" }
        Text {
            objectName: "contextTag"
            visible: root.block.contextTag !== ""
            anchors.verticalCenter: parent.verticalCenter
            text: root.block.contextTag
            font.family: NotchFormat.systemFontFamily
            font.pixelSize: 11
            font.weight: Font.Medium
            color: CardPalette.contextTag
        }
    }

    // Chart: caption with the covered time, spike legend, the sparkline.
    ColumnLayout {
        Layout.fillWidth: true
        spacing: 4

        Row {
            spacing: 6
            Text {
                objectName: "caption"
                text: root.block.chartCaption
                font.family: NotchFormat.systemFontFamily
                font.pixelSize: 9
                font.weight: Font.DemiBold
                font.letterSpacing: 0.6
                color: CardPalette.caption
            }
            Text {
                objectName: "timeRange"
                visible: text !== ""
                text: root.block.chartTimeRange
                font.family: NotchFormat.systemFontFamily
                font.pixelSize: 9
                color: CardPalette.caption
            }
        }

        Row {
            objectName: "spikeLegend"
            visible: root.block.spikeCount > 0
            spacing: 4
            Rectangle {
                anchors.verticalCenter: parent.verticalCenter
                width: 4
                height: 4
                radius: 2
                color: root.block.directionColor
            }
            Text {
                anchors.verticalCenter: parent.verticalCenter
                text: root.block.spikeLegend
                font.family: NotchFormat.systemFontFamily
                font.pixelSize: 9
                font.weight: Font.Medium
                color: CardPalette.caption
            }
        }

        Sparkline {
            objectName: "sparkline"
            Layout.fillWidth: true
            points: root.block.intraday
            previousClose: root.block.previousClose
            tint: root.block.directionColor
            spikeIndices: root.block.spikeIndices
        }
    }

    // The armed alerts on this symbol, lit while their condition holds.
    Row {
        objectName: "alerts"
        Layout.alignment: Qt.AlignHCenter
        visible: root.block.alertChips.length > 0
        spacing: 6

        Text {
            anchors.verticalCenter: parent.verticalCenter
            text: "watching"
            font.family: NotchFormat.systemFontFamily
            font.pixelSize: 10
            color: CardPalette.watching
        }

        Repeater {
            model: root.block.alertChips
            Rectangle {
                required property var modelData
                // A delegate has no parent for a moment while the Repeater replaces it.
                anchors.verticalCenter: parent ? parent.verticalCenter : undefined
                implicitWidth: chipRow.implicitWidth + 12
                implicitHeight: chipRow.implicitHeight + 4
                width: implicitWidth
                height: implicitHeight
                radius: 5
                color: CardPalette.chipBackground
                Row {
                    id: chipRow
                    anchors.centerIn: parent
                    spacing: 3
                    SymbolImage {
                        anchors.verticalCenter: parent.verticalCenter
                        name: modelData.symbolName
                        pointSize: 9
                        weight: Font.ExtraBold
                        color: modelData.color
                    }
                    Text {
                        anchors.verticalCenter: parent.verticalCenter
                        text: modelData.text
                        font.family: NotchFormat.systemFontFamily
                        font.pixelSize: 10
                        font.weight: Font.DemiBold
                        color: modelData.color
                    }
                }
            }
        }
    }

    component Bullet: Text {
        anchors.verticalCenter: parent.verticalCenter
        text: "\u2022"
        font.family: NotchFormat.systemFontFamily
        font.pixelSize: 11
        color: CardPalette.bullet
    }
}
