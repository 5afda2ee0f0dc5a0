#include "notch/cardformat.h"

#include <QDateTime>

#include <cmath>

namespace velline::card {

namespace {

QColor withOpacity(QColor color, double opacity) {
    color.setAlphaF(static_cast<float>(color.alphaF() * opacity));
    return color;
}

} // namespace

QColor alertAmber() {
    return QColor::fromRgbF(1.0f, 0.85f, 0.45f);
}

QString fixed2(double value) {
    // Adding +0.0 turns a negative zero into a positive one; "%.2f" would print "-0.00".
    // Values that only round to zero keep their sign, as the C formatter gives them.
    return QString::asprintf("%.2f", value + 0.0);
}

QString dollars(double value) {
    return QLatin1Char('$') + fixed2(value);
}

int displayedIndex(const QList<Stock>& stocks, const std::optional<QString>& activeSymbol) {
    if (stocks.isEmpty())
        return -1;
    if (activeSymbol) {
        for (qsizetype i = 0; i < stocks.size(); ++i) {
            if (stocks.at(i).symbol == *activeSymbol)
                return static_cast<int>(i);
        }
    }
    return 0;
}

QColor moveColor(double move, bool spiking, const NotchTheme& theme) {
    const bool loud = spiking || std::abs(move) >= 1.0;
    if (move > 0)
        return toQColor(loud ? theme.spikePositive : theme.mutedPositive);
    if (move < 0)
        return toQColor(loud ? theme.spikeNegative : theme.mutedNegative);
    return NotchPalette::textPrimary();
}

QString alertBadgeLabel(const AlertEvent& event) {
    if (event.reason.isSpike()) {
        switch (event.direction) {
        case Stock::Direction::up:
            return QStringLiteral("Breakout");
        case Stock::Direction::down:
            return QStringLiteral("Drop");
        case Stock::Direction::flat:
            break;
        }
        return QStringLiteral("Move");
    }
    const QString word = event.reason.direction == PriceAlert::Direction::above
                             ? QStringLiteral("Above ")
                             : QStringLiteral("Below ");
    return word + dollars(event.reason.level);
}

bool showsAlertBadge(const std::optional<AlertEvent>& event, const QString& displayedSymbol) {
    return event && event->symbol == displayedSymbol;
}

std::optional<MoveChip> moveChip(double tickChangePercent, bool spiking, const NotchTheme& theme) {
    // NaN fails the comparison and shows nothing.
    if (!(std::abs(tickChangePercent) >= moveChipThreshold))
        return std::nullopt;
    const bool rising = tickChangePercent > 0;
    MoveChip chip;
    chip.symbolName =
        rising ? QStringLiteral("arrow.up.right") : QStringLiteral("arrow.down.right");
    chip.text = (rising ? QStringLiteral("+") : QString()) + fixed2(tickChangePercent) +
                QStringLiteral("% (5m)");
    chip.color = moveColor(tickChangePercent, spiking, theme);
    return chip;
}

std::optional<VolumeChip> volumeChip(double ratio, const QColor& directionColor) {
    if (!(ratio >= volumeChipThreshold) || !std::isfinite(ratio))
        return std::nullopt;
    VolumeChip chip;
    chip.text = QString::asprintf("%.1fx", ratio);
    chip.color = ratio >= volumeLoudThreshold ? withOpacity(directionColor, 0.95)
                                              : withOpacity(NotchPalette::textPrimary(), 0.8);
    return chip;
}

QString previousCloseText(double previousClose) {
    return QStringLiteral("prev ") + dollars(previousClose);
}

std::optional<QString> contextTagText(const Stock& stock) {
    if (!stock.contextTag || stock.contextTag->isEmpty())
        return std::nullopt;
    return stock.contextTag;
}

QString chartCaption(const NotchTheme& theme) {
    return theme.modeLabel ? QStringLiteral("OVERNIGHT") : QStringLiteral("INTRADAY");
}

QString shortTime(double instant) {
    // Local time of the machine, as the platform's formatter gives it by default.
    const QDateTime local =
        QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::floor(instant * 1000.0)));
    const QTime time = local.time();
    const int hour12 = time.hour() % 12 == 0 ? 12 : time.hour() % 12;
    return QString::asprintf("%d:%02d%c", hour12, time.minute(), time.hour() < 12 ? 'a' : 'p');
}

QString chartTimeRange(const QList<PricePoint>& points) {
    if (points.isEmpty())
        return {};
    return shortTime(points.constFirst().time) + QStringLiteral(" \u2013 ") +
           shortTime(points.constLast().time);
}

QString spikeLegend(qsizetype count) {
    return QString::number(count) +
           (count == 1 ? QStringLiteral(" spike") : QStringLiteral(" spikes"));
}

AlertChip alertChip(const PriceAlert& alert, double price) {
    AlertChip chip;
    const bool above = alert.direction == PriceAlert::Direction::above;
    chip.symbolName = above ? QStringLiteral("arrow.up") : QStringLiteral("arrow.down");
    chip.text = dollars(alert.price);
    chip.holds = above ? price >= alert.price : price <= alert.price;
    if (chip.holds)
        chip.color =
            toQColor(above ? NotchPalette::equityUpDefault() : NotchPalette::equityDownDefault());
    else
        chip.color = withOpacity(NotchPalette::textPrimary(), 0.8);
    return chip;
}

QList<AlertChip> alertChips(const QList<PriceAlert>& alerts, const QString& symbol, double price) {
    QList<AlertChip> chips;
    for (const PriceAlert& alert : alerts) {
        if (alert.symbol == symbol)
            chips.append(alertChip(alert, price));
    }
    return chips;
}

PortfolioLine portfolioLine(double dayPL, double marketValue) {
    PortfolioLine line;
    QString sign;
    if (dayPL > 0) {
        sign = QStringLiteral("+");
        line.color = toQColor(NotchPalette::equityUpDefault());
    } else if (dayPL < 0) {
        sign = QStringLiteral("\u2212");
        line.color = toQColor(NotchPalette::equityDownDefault());
    } else {
        line.color = NotchPalette::textPrimary();
    }
    line.amountText = sign + dollars(std::abs(dayPL));

    const double base = marketValue - dayPL;
    if (marketValue > 0 && base > 0) {
        const double percent = dayPL / base * 100.0;
        line.percentText =
            (percent > 0 ? QStringLiteral("+") : QString()) + fixed2(percent) + QLatin1Char('%');
    }
    line.percentColor = withOpacity(line.color, 0.85);
    return line;
}

bool showsFooter(qsizetype stockCount) {
    return stockCount >= 2;
}

QString removeTooltip(const QString& symbol) {
    return QStringLiteral("Remove ") + symbol + QStringLiteral(" from tracked");
}

QString noStocksText() {
    return QStringLiteral("No tracked stocks");
}

SwipeDirection swipeForDrag(double translationX) {
    if (!(std::abs(translationX) > dragSwipeDistance))
        return SwipeDirection::none;
    return translationX >= 0 ? SwipeDirection::right : SwipeDirection::left;
}

} // namespace velline::card
