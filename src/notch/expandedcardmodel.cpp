#include "notch/expandedcardmodel.h"

#include "notch/cardformat.h"
#include "notch/notchclock.h"
#include "notch/notchformat.h"

#include <cmath>

namespace velline {

CardBlock CardBlock::build(const Stock& stock, const std::optional<AlertEvent>& event,
                           const QList<PriceAlert>& alerts, const NotchTheme& theme, double now) {
    CardBlock b;
    b.symbol = stock.symbol;
    b.isSpiking = stock.isSpiking(now);
    b.directionColor = velline::directionColor(stock.direction(), theme, b.isSpiking);

    if (theme.modeLabel)
        b.modeBadgeText = theme.modeLabel->toUpper();
    b.alertBadgeVisible = card::showsAlertBadge(event, stock.symbol);
    if (b.alertBadgeVisible)
        b.alertBadgeText = card::alertBadgeLabel(*event);
    b.percentText = stock.percentText();
    b.changePercent = stock.changePercent();

    b.price = stock.price;
    b.priceText = card::dollars(stock.price);
    if (const auto move = card::moveChip(stock.tickChangePercent(), b.isSpiking, theme)) {
        b.moveVisible = true;
        b.moveSymbol = move->symbolName;
        b.moveText = move->text;
        b.moveColor = move->color;
    }
    if (const auto volume = card::volumeChip(stock.volumeRatio(), b.directionColor)) {
        b.volumeVisible = true;
        b.volumeText = volume->text;
        b.volumeColor = volume->color;
    }
    b.previousCloseText = card::previousCloseText(stock.previousClose);
    b.contextTag = card::contextTagText(stock).value_or(QString());

    b.chartCaption = card::chartCaption(theme);
    b.chartTimeRange = card::chartTimeRange(stock.intraday);
    b.spikeIndices = stock.spikeIndices();
    b.spikeCount = static_cast<int>(b.spikeIndices.size());
    if (b.spikeCount > 0)
        b.spikeLegend = card::spikeLegend(b.spikeCount);
    b.intraday = stock.intraday;
    b.previousClose = stock.previousClose;

    for (const card::AlertChip& chip : card::alertChips(alerts, stock.symbol, stock.price)) {
        b.alertChips.append(QVariantMap{
            {QStringLiteral("symbolName"), chip.symbolName},
            {QStringLiteral("text"), chip.text},
            {QStringLiteral("color"), chip.color},
            {QStringLiteral("holds"), chip.holds},
        });
    }
    return b;
}

ExpandedCardModel::ExpandedCardModel(QObject* parent) : ExpandedCardModel(notchClock(), parent) {}

ExpandedCardModel::ExpandedCardModel(Clock* clock, QObject* parent)
    : QObject(parent), m_clock(clock), m_theme(NotchTheme::equity({})) {
    recompute();
}

ExpandedCardModel::~ExpandedCardModel() = default;

void ExpandedCardModel::setClock(Clock* clock) {
    m_clock = clock;
    recompute();
}

void ExpandedCardModel::setStocks(const QList<Stock>& stocks) {
    m_stocks = stocks;
    Q_EMIT inputsChanged();
    recompute();
}

void ExpandedCardModel::setActiveSymbol(const std::optional<QString>& symbol) {
    m_activeSymbol = symbol;
    Q_EMIT inputsChanged();
    recompute();
}

void ExpandedCardModel::setAlertEvent(const std::optional<AlertEvent>& event) {
    m_alertEvent = event;
    Q_EMIT inputsChanged();
    recompute();
}

void ExpandedCardModel::setAlertsForActive(const QList<PriceAlert>& alerts) {
    m_alerts = alerts;
    Q_EMIT inputsChanged();
    recompute();
}

void ExpandedCardModel::setPortfolioDayPL(const std::optional<double>& value) {
    m_dayPL = value;
    Q_EMIT inputsChanged();
    recompute();
}

void ExpandedCardModel::setPortfolioMarketValue(const std::optional<double>& value) {
    m_marketValue = value;
    Q_EMIT inputsChanged();
    recompute();
}

void ExpandedCardModel::setTheme(const NotchTheme& theme) {
    m_theme = theme;
    Q_EMIT inputsChanged();
    recompute();
}

QString ExpandedCardModel::emptyText() {
    return card::noStocksText();
}

bool ExpandedCardModel::footerVisible() const {
    return card::showsFooter(m_stocks.size());
}

QString ExpandedCardModel::removeTooltip() const {
    return hasStock() ? card::removeTooltip(m_block.symbol) : QString();
}

bool ExpandedCardModel::showsPortfolio(int holdingCount, bool isAfterHours) {
    return holdingCount > 0 && !isAfterHours;
}

double ExpandedCardModel::dragMinimumDistance() {
    return card::dragMinimumDistance;
}

bool ExpandedCardModel::entersFromLeading(int swipeDirection) {
    return swipeDirection == static_cast<int>(SwipeDirection::right);
}

void ExpandedCardModel::dragEnded(double translationX) {
    const SwipeDirection direction = card::swipeForDrag(translationX);
    if (direction != SwipeDirection::none)
        Q_EMIT swipeRequested(static_cast<int>(direction));
}

void ExpandedCardModel::stepForward() {
    Q_EMIT swipeRequested(static_cast<int>(SwipeDirection::left));
}

void ExpandedCardModel::stepBack() {
    Q_EMIT swipeRequested(static_cast<int>(SwipeDirection::right));
}

namespace {

QVariant optionalValue(const std::optional<double>& value) {
    return value ? QVariant(*value) : QVariant();
}

// A number, or absent for null/undefined or anything that is not a finite number.
std::optional<double> numberFrom(const QVariant& value) {
    if (!value.isValid() || value.isNull())
        return std::nullopt;
    bool ok = false;
    const double number = value.toDouble(&ok);
    if (!ok || !std::isfinite(number))
        return std::nullopt;
    return number;
}

} // namespace

QVariant ExpandedCardModel::activeSymbolValue() const {
    return m_activeSymbol ? QVariant(*m_activeSymbol) : QVariant();
}

void ExpandedCardModel::setActiveSymbolValue(const QVariant& value) {
    if (!value.isValid() || value.isNull())
        setActiveSymbol(std::nullopt);
    else
        setActiveSymbol(value.toString());
}

QVariant ExpandedCardModel::alertEventValue() const {
    return m_alertEvent ? QVariant::fromValue(*m_alertEvent) : QVariant();
}

void ExpandedCardModel::setAlertEventValue(const QVariant& value) {
    if (value.metaType() == QMetaType::fromType<AlertEvent>())
        setAlertEvent(value.value<AlertEvent>());
    else
        setAlertEvent(std::nullopt);
}

QVariant ExpandedCardModel::portfolioDayPLValue() const {
    return optionalValue(m_dayPL);
}

void ExpandedCardModel::setPortfolioDayPLValue(const QVariant& value) {
    setPortfolioDayPL(numberFrom(value));
}

QVariant ExpandedCardModel::portfolioMarketValueValue() const {
    return optionalValue(m_marketValue);
}

void ExpandedCardModel::setPortfolioMarketValueValue(const QVariant& value) {
    setPortfolioMarketValue(numberFrom(value));
}

void ExpandedCardModel::recompute() {
    m_index = card::displayedIndex(m_stocks, m_activeSymbol);
    m_block = m_index >= 0 ? CardBlock::build(m_stocks.at(m_index), m_alertEvent, m_alerts, m_theme,
                                              m_clock->now())
                           : CardBlock{};
    m_line =
        m_dayPL ? card::portfolioLine(*m_dayPL, m_marketValue.value_or(0)) : card::PortfolioLine{};
    m_spikeHold.follow(m_index >= 0 ? &m_stocks.at(m_index) : nullptr, m_clock, this,
                       [this] { recompute(); });
    Q_EMIT changed();
}

} // namespace velline
