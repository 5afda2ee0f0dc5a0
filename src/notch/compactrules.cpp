#include "notch/compactrules.h"

#include <cmath>

namespace velline::compact {

LeadingContent leadingContent(DisplayMode mode, bool hasStock) {
    if (mode == DisplayMode::doNotDisturb)
        return LeadingContent::nothing;
    if (!hasStock)
        return LeadingContent::placeholder;
    switch (mode) {
    case DisplayMode::compact:
        return LeadingContent::ticker;
    case DisplayMode::compactLogo:
        return LeadingContent::logo;
    case DisplayMode::regular:
    case DisplayMode::doNotDisturb:
        break;
    }
    return LeadingContent::logoAndTicker;
}

TrailingContent trailingContent(DisplayMode mode, bool hasStock) {
    if (mode == DisplayMode::doNotDisturb)
        return TrailingContent::nothing;
    if (!hasStock)
        return TrailingContent::placeholder;
    return mode == DisplayMode::regular ? TrailingContent::full : TrailingContent::percentage;
}

bool showsPrice(const Stock& stock) {
    return stock.price > 0;
}

std::optional<QString> moveArrow(const Stock& stock) {
    const double move = stock.tickChangePercent();
    if (!(std::abs(move) >= arrowMovePercent))
        return std::nullopt;
    return move > 0 ? QStringLiteral("arrow.up") : QStringLiteral("arrow.down");
}

bool entersFromLeading(SwipeDirection direction) {
    return direction == SwipeDirection::right;
}

} // namespace velline::compact
