#include "notchlayer/uncoveredarea.h"

#include <algorithm>
#include <utility>

namespace velline {

void UncoveredArea::add(const QRegion& region, double now) {
    if (!region.isEmpty())
        m_parts.append({region, now});
}

void UncoveredArea::clear() {
    m_parts.clear();
    m_seriesPassed = false;
}

bool UncoveredArea::skip(const QRect& rect, bool more, double now) {
    m_parts.removeIf([now](const Part& part) { return now - part.at > lifetime; });
    const bool seriesPassed = std::exchange(m_seriesPassed, false);
    QRegion uncovered;
    for (const Part& part : std::as_const(m_parts))
        uncovered += part.region;
    const bool inside = !rect.isEmpty() && (QRegion(rect) - uncovered).isEmpty();
    if (!inside || (!more && seriesPassed)) {
        m_seriesPassed = more;
        return false;
    }
    m_seriesPassed = seriesPassed;
    // Each uncovered pixel is exposed once.
    for (Part& part : m_parts)
        part.region -= rect;
    m_parts.removeIf([](const Part& part) { return part.region.isEmpty(); });
    return true;
}

} // namespace velline
