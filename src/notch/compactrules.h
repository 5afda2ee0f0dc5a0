#pragma once

#include "market/stock.h"
#include "prefs/records.h"
#include "state/swipedirection.h"

#include <QString>

#include <optional>

// What the two compact views beside the notch show, by display mode and stock.
namespace velline::compact {

// The left view: logo and/or ticker.
enum class LeadingContent {
    nothing,       // do not disturb: an empty view of no size
    placeholder,   // no stock: an em dash
    logoAndTicker, // regular
    ticker,        // compact
    logo,          // compact with logo
};

// The right view: price, move arrow and percentage.
enum class TrailingContent {
    nothing,     // do not disturb
    placeholder, // no stock: an em dash
    full,        // regular: price (when above 0), arrow (on a big latest bar), percentage
    percentage,  // compact modes: the percentage only
};

LeadingContent leadingContent(DisplayMode mode, bool hasStock);
TrailingContent trailingContent(DisplayMode mode, bool hasStock);

// The text shown in place of a stock.
inline const QString placeholderText = QStringLiteral("\u2014");

// Latest-bar move (percentage points, inclusive) from which the move arrow shows.
inline constexpr double arrowMovePercent = 1.0;

// A price is only worth showing once there is one.
bool showsPrice(const Stock& stock);
// "arrow.up" / "arrow.down" for a latest bar that moved at least 1 %, else nothing. The day's
// change plays no part.
std::optional<QString> moveArrow(const Stock& stock);

// A carousel step slides new content in from the leading (left) edge only when going back.
bool entersFromLeading(SwipeDirection direction);

} // namespace velline::compact
