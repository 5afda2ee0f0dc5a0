#pragma once

// Display rules of the expanded card: which rows and chips show, their texts and colours.
// Pure functions of the records, so every rule can be checked without a window.

#include "market/stock.h"
#include "notch/notchtheme.h"
#include "prefs/records.h"
#include "state/alertevent.h"
#include "state/swipedirection.h"

#include <QColor>
#include <QList>
#include <QString>

#include <optional>

namespace velline::card {

// The amber of the alert badge and of a pulse without a direction.
QColor alertAmber();

// "%.2f" without a locale and without "-0.00" for a negative zero.
QString fixed2(double value);
// "$187.42": two decimals, no thousands separator.
QString dollars(double value);

// The record the card shows: the one whose symbol is `activeSymbol`, else the first one;
// -1 without records.
int displayedIndex(const QList<Stock>& stocks, const std::optional<QString>& activeSymbol);

// Colour of a signed move m in percentage points: loud while spiking or from |m| >= 1.0,
// muted below that, textPrimary for 0.
QColor moveColor(double move, bool spiking, const NotchTheme& theme);

// Label of the badge for a fired alert: "Breakout" / "Drop" / "Move" for a spike by its
// direction, "Above $150.00" / "Below $150.00" for a crossed price level.
QString alertBadgeLabel(const AlertEvent& event);
// The badge shows only for an event on the symbol the card displays.
bool showsAlertBadge(const std::optional<AlertEvent>& event, const QString& displayedSymbol);

// The five-minute move chip, from |move| >= 0.05.
struct MoveChip {
    QString symbolName; // "arrow.up.right" / "arrow.down.right"
    QString text;       // "+0.42% (5m)"
    QColor color;
};
inline constexpr double moveChipThreshold = 0.05;
std::optional<MoveChip> moveChip(double tickChangePercent, bool spiking, const NotchTheme& theme);

// The volume surge chip, from a ratio of 1.5; loud from 3.0.
struct VolumeChip {
    QString text; // "2.4x"
    QColor color;
};
inline constexpr double volumeChipThreshold = 1.5;
inline constexpr double volumeLoudThreshold = 3.0;
std::optional<VolumeChip> volumeChip(double ratio, const QColor& directionColor);

// "prev $187.00".
QString previousCloseText(double previousClose);
// The record's context tag when it has a non-empty one.
std::optional<QString> contextTagText(const Stock& stock);

// "INTRADAY", or "OVERNIGHT" while the futures theme is in force.
QString chartCaption(const NotchTheme& theme);
// "9:30a" in the machine's time zone.
QString shortTime(double instant);
// "9:30a – 4:00p" from the first to the last point; empty without points.
QString chartTimeRange(const QList<PricePoint>& points);
// "1 spike", "3 spikes".
QString spikeLegend(qsizetype count);

// One armed alert as the card lists it. The chip is lit while the alert's condition holds
// at the current price (above: price >= level, below: price <= level), always in the
// built-in equity colours.
struct AlertChip {
    QString symbolName; // "arrow.up" / "arrow.down"
    QString text;       // "$150.00"
    QColor color;
    bool holds = false;
};
AlertChip alertChip(const PriceAlert& alert, double price);
// The chips of the alerts on `symbol`, in stored order (alerts on other symbols are skipped).
QList<AlertChip> alertChips(const QList<PriceAlert>& alerts, const QString& symbol, double price);

// The "YOU +$124.00 +1.24% today" line, in the built-in equity colours.
struct PortfolioLine {
    QString amountText;                 // "+$124.00", "−$50.50" (U+2212), "$0.00"
    QColor color;                       // sign colour
    std::optional<QString> percentText; // "+1.24%", "-4.81%"; only with a positive base
    QColor percentColor;
};
PortfolioLine portfolioLine(double dayPL, double marketValue);

// The footer (settings, pager, remove) needs at least two records.
bool showsFooter(qsizetype stockCount);
// "Remove AAPL from tracked".
QString removeTooltip(const QString& symbol);
QString noStocksText();

// A horizontal drag that ends beyond 40 points swipes: right for a drag to the right,
// left for a drag to the left; none at 40 points or less.
inline constexpr double dragSwipeDistance = 40.0;
inline constexpr double dragMinimumDistance = 20.0;
SwipeDirection swipeForDrag(double translationX);

} // namespace velline::card
