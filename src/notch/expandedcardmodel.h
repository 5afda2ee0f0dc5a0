#pragma once

#include "clock/clock.h"
#include "market/stock.h"
#include "notch/cardformat.h"
#include "notch/notchtheme.h"
#include "notch/spikehold.h"
#include "prefs/records.h"
#include "state/alertevent.h"

#include <QColor>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariant>
#include <QtQmlIntegration/qqmlintegration.h>

#include <optional>

namespace velline {

// Everything the card's stock block draws for one record, worked out once. A plain value, so
// a block that slides out keeps showing the record it had while the next one slides in.
struct CardBlock {
    Q_GADGET
    QML_VALUE_TYPE(cardBlock)
    Q_PROPERTY(QString symbol MEMBER symbol)
    Q_PROPERTY(bool isSpiking MEMBER isSpiking)
    Q_PROPERTY(QColor directionColor MEMBER directionColor)
    // Header.
    Q_PROPERTY(QString modeBadgeText MEMBER modeBadgeText)
    Q_PROPERTY(bool alertBadgeVisible MEMBER alertBadgeVisible)
    Q_PROPERTY(QString alertBadgeText MEMBER alertBadgeText)
    Q_PROPERTY(QString percentText MEMBER percentText)
    Q_PROPERTY(double changePercent MEMBER changePercent)
    // Statistics.
    Q_PROPERTY(double price MEMBER price)
    Q_PROPERTY(QString priceText MEMBER priceText)
    Q_PROPERTY(bool moveVisible MEMBER moveVisible)
    Q_PROPERTY(QString moveSymbol MEMBER moveSymbol)
    Q_PROPERTY(QString moveText MEMBER moveText)
    Q_PROPERTY(QColor moveColor MEMBER moveColor)
    Q_PROPERTY(bool volumeVisible MEMBER volumeVisible)
    Q_PROPERTY(QString volumeText MEMBER volumeText)
    Q_PROPERTY(QColor volumeColor MEMBER volumeColor)
    Q_PROPERTY(QString previousCloseText MEMBER previousCloseText)
    Q_PROPERTY(QString contextTag MEMBER contextTag)
    // Chart.
    Q_PROPERTY(QString chartCaption MEMBER chartCaption)
    Q_PROPERTY(QString chartTimeRange MEMBER chartTimeRange)
    Q_PROPERTY(int spikeCount MEMBER spikeCount)
    Q_PROPERTY(QString spikeLegend MEMBER spikeLegend)
    Q_PROPERTY(QList<velline::PricePoint> intraday MEMBER intraday)
    Q_PROPERTY(double previousClose MEMBER previousClose)
    Q_PROPERTY(QList<int> spikeIndices MEMBER spikeIndices)
    // Alerts: a list of {symbolName, text, color, holds}.
    Q_PROPERTY(QVariantList alertChips MEMBER alertChips)

public:
    QString symbol;
    bool isSpiking = false;
    QColor directionColor;
    QString modeBadgeText; // empty for the equity theme
    bool alertBadgeVisible = false;
    QString alertBadgeText;
    QString percentText;
    double changePercent = 0;
    double price = 0;
    QString priceText;
    bool moveVisible = false;
    QString moveSymbol;
    QString moveText;
    QColor moveColor;
    bool volumeVisible = false;
    QString volumeText;
    QColor volumeColor;
    QString previousCloseText;
    QString contextTag; // empty when none
    QString chartCaption;
    QString chartTimeRange;
    int spikeCount = 0;
    QString spikeLegend;
    QList<PricePoint> intraday;
    double previousClose = 0;
    QList<int> spikeIndices;
    QVariantList alertChips;

    // `alerts` may hold alerts on other symbols; only this record's are listed.
    static CardBlock build(const Stock& stock, const std::optional<AlertEvent>& event,
                           const QList<PriceAlert>& alerts, const NotchTheme& theme, double now);

    friend bool operator==(const CardBlock&, const CardBlock&) = default;
};

// The expanded card's display state, computed from its inputs (bound from the watch state
// and the preferences by the card's wrapper) in C++ so every rule stays testable. Outputs
// change together and notify through `changed`.
class ExpandedCardModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    // Inputs.
    Q_PROPERTY(QList<velline::Stock> stocks READ stocks WRITE setStocks NOTIFY inputsChanged)
    // Text, or null when absent.
    Q_PROPERTY(QVariant activeSymbol READ activeSymbolValue WRITE setActiveSymbolValue NOTIFY
                   inputsChanged)
    // An AlertEvent, or null.
    Q_PROPERTY(
        QVariant alertEvent READ alertEventValue WRITE setAlertEventValue NOTIFY inputsChanged)
    Q_PROPERTY(QList<velline::PriceAlert> alertsForActive READ alertsForActive WRITE
                   setAlertsForActive NOTIFY inputsChanged)
    // Numbers, or null for "no portfolio line".
    Q_PROPERTY(QVariant portfolioDayPL READ portfolioDayPLValue WRITE setPortfolioDayPLValue NOTIFY
                   inputsChanged)
    Q_PROPERTY(QVariant portfolioMarketValue READ portfolioMarketValueValue WRITE
                   setPortfolioMarketValueValue NOTIFY inputsChanged)
    Q_PROPERTY(velline::NotchTheme theme READ theme WRITE setTheme NOTIFY inputsChanged)

    // Outputs.
    Q_PROPERTY(bool hasStock READ hasStock NOTIFY changed)
    Q_PROPERTY(QString displayedSymbol READ displayedSymbol NOTIFY changed)
    Q_PROPERTY(int displayedIndex READ displayedIndex NOTIFY changed)
    Q_PROPERTY(int stockCount READ stockCount NOTIFY changed)
    Q_PROPERTY(velline::CardBlock block READ block NOTIFY changed)
    Q_PROPERTY(QString emptyText READ emptyText CONSTANT)
    Q_PROPERTY(bool footerVisible READ footerVisible NOTIFY changed)
    Q_PROPERTY(QString removeTooltip READ removeTooltip NOTIFY changed)
    Q_PROPERTY(bool portfolioVisible READ portfolioVisible NOTIFY changed)
    Q_PROPERTY(QString portfolioAmountText READ portfolioAmountText NOTIFY changed)
    Q_PROPERTY(QColor portfolioColor READ portfolioColor NOTIFY changed)
    Q_PROPERTY(bool portfolioPercentVisible READ portfolioPercentVisible NOTIFY changed)
    Q_PROPERTY(QString portfolioPercentText READ portfolioPercentText NOTIFY changed)
    Q_PROPERTY(QColor portfolioPercentColor READ portfolioPercentColor NOTIFY changed)

public:
    // Made from QML: runs on the notch views' clock (notchClock()).
    explicit ExpandedCardModel(QObject* parent = nullptr);
    ExpandedCardModel(Clock* clock, QObject* parent);
    ~ExpandedCardModel() override;

    void setClock(Clock* clock);

    QList<Stock> stocks() const { return m_stocks; }
    void setStocks(const QList<Stock>& stocks);
    std::optional<QString> activeSymbol() const { return m_activeSymbol; }
    void setActiveSymbol(const std::optional<QString>& symbol);
    std::optional<AlertEvent> alertEvent() const { return m_alertEvent; }
    void setAlertEvent(const std::optional<AlertEvent>& event);
    QList<PriceAlert> alertsForActive() const { return m_alerts; }
    void setAlertsForActive(const QList<PriceAlert>& alerts);
    std::optional<double> portfolioDayPL() const { return m_dayPL; }
    void setPortfolioDayPL(const std::optional<double>& value);
    std::optional<double> portfolioMarketValue() const { return m_marketValue; }
    void setPortfolioMarketValue(const std::optional<double>& value);
    NotchTheme theme() const { return m_theme; }
    void setTheme(const NotchTheme& theme);

    bool hasStock() const { return m_index >= 0; }
    QString displayedSymbol() const { return m_block.symbol; }
    int displayedIndex() const { return m_index; }
    int stockCount() const { return static_cast<int>(m_stocks.size()); }
    CardBlock block() const { return m_block; }
    static QString emptyText();
    bool footerVisible() const;
    QString removeTooltip() const;
    bool portfolioVisible() const { return m_dayPL.has_value(); }
    QString portfolioAmountText() const { return m_line.amountText; }
    QColor portfolioColor() const { return m_line.color; }
    bool portfolioPercentVisible() const { return m_line.percentText.has_value(); }
    QString portfolioPercentText() const { return m_line.percentText.value_or(QString()); }
    QColor portfolioPercentColor() const { return m_line.percentColor; }

    // The card has a portfolio line when the user holds something and the carousel shows
    // equities (the futures mode has no holdings to value).
    Q_INVOKABLE static bool showsPortfolio(int holdingCount, bool isAfterHours);
    // How far a drag must go before it counts as one.
    Q_INVOKABLE static double dragMinimumDistance();
    // A change of symbol after a step back slides the new block in from the leading edge.
    Q_INVOKABLE static bool entersFromLeading(int swipeDirection);

    // Input that steps the carousel, each ending in swipeRequested: a drag that ended
    // `translationX` points from where it began (beyond 40 points: right for a drag to the
    // right, left for one to the left), and the pager's two buttons.
    Q_INVOKABLE void dragEnded(double translationX);
    Q_INVOKABLE void stepForward();
    Q_INVOKABLE void stepBack();

Q_SIGNALS:
    void inputsChanged();
    void changed();
    // `direction` is a SwipeDirection.
    void swipeRequested(int direction);

private:
    QVariant activeSymbolValue() const;
    void setActiveSymbolValue(const QVariant& value);
    QVariant alertEventValue() const;
    void setAlertEventValue(const QVariant& value);
    QVariant portfolioDayPLValue() const;
    void setPortfolioDayPLValue(const QVariant& value);
    QVariant portfolioMarketValueValue() const;
    void setPortfolioMarketValueValue(const QVariant& value);

    void recompute();

    Clock* m_clock;
    QList<Stock> m_stocks;
    std::optional<QString> m_activeSymbol;
    std::optional<AlertEvent> m_alertEvent;
    QList<PriceAlert> m_alerts;
    std::optional<double> m_dayPL;
    std::optional<double> m_marketValue;
    NotchTheme m_theme;

    int m_index = -1;
    CardBlock m_block;
    card::PortfolioLine m_line;
    // Re-evaluates once the displayed record's spike hold runs out.
    SpikeHold m_spikeHold;
};

} // namespace velline

Q_DECLARE_METATYPE(velline::CardBlock)
