#pragma once

#include "notchlayer/notchtypes.h"

#include <QList>
#include <QPainterPath>
#include <QPointF>
#include <QRect>
#include <QRectF>
#include <QString>

class QScreen;

// Geometry of the notch: where it sits on a screen, the outline it is drawn with and the
// state-dependent radii and shadow. Pure functions, in logical pixels ("points"), y down.
namespace velline::notchgeometry {

// No Linux screen has a camera housing, so every screen is measured as a screen without one:
// an assumed notch 300 points wide, as tall as the top panel, centred just below that panel
// (at the top edge where there is none), so the notch never covers what the panel shows.
constexpr qreal kAssumedNotchWidth = 300;
// Height used when the screen has no top panel, so the notch never collapses to nothing.
constexpr qreal kDefaultMenubarHeight = 32;

// Height of the top panel: available-geometry top minus geometry top, or 32 when there is none
// (or the available geometry makes no sense for a top panel).
qreal menubarHeight(const QRect& geometry, const QRect& availableGeometry);
qreal menubarHeight(const QScreen* screen);
// Height of the strip a top panel reserves (its strut): available-geometry top minus geometry
// top, or 0 when there is no such panel.
qreal topPanelHeight(const QRect& geometry, const QRect& availableGeometry);

// The notch rectangle of a screen, in global coordinates.
QRectF notchFrame(const QRect& geometry, const QRect& availableGeometry);
QRectF notchFrame(const QScreen* screen);

// `automatic` becomes the floating preset on a screen without a camera housing (all of them
// here); other styles are returned unchanged.
NotchStyle resolvedStyle(const NotchStyle& style, const QScreen* screen);

// The notch panel is half as wide and half as tall as its screen, centred, and hangs from the
// bottom of the top panel's strip (from the top edge without one).
// It is never narrower than kMinimumPanelWidth (or the screen), which holds the compact notch
// with long texts on both sides.
constexpr int kMinimumPanelWidth = 800;
QRect panelFrame(const QRect& screenGeometry, const QRect& availableGeometry);

// One step of an outline.
struct PathElement {
    enum class Type { moveTo, lineTo, quadTo };
    Type type;
    QPointF to;
    QPointF control; // quadTo only
    bool operator==(const PathElement&) const = default;
};

// The notch outline in `rect`: the top edge spans the full width, the top corners flare
// outwards in concave fillets of radius `top` that blend into the top edge, the sides are
// inset by `top`, and the bottom corners are rounded with radius `bottom`. Radii too large for
// the rectangle are reduced so the outline never folds over itself.
QList<PathElement> notchOutline(const QRectF& rect, qreal top, qreal bottom);
QPainterPath toPainterPath(const QList<PathElement>& outline);
// The largest rectangle of `rect`'s outline that content may fill, kept kContentMargin inside
// the sides, the bottom and the rounded bottom corners (so no content pixel shares a pixel
// with the outline's edge); it starts at the top edge. Radii are reduced as in notchOutline().
constexpr qreal kContentMargin = 1;
QRectF contentRect(const QRectF& rect, qreal top, qreal bottom);
// SVG path data ("M x y Q cx cy x y L x y ... Z") for QtQuick.Shapes' PathSvg.
QString toSvgPath(const QList<PathElement>& outline);

struct CornerRadii {
    qreal top = 0;
    qreal bottom = 0;
    bool operator==(const CornerRadii&) const = default;
};
// 6/14 while compact or hidden; expanded: the notch style's radii, 15/20 for other styles.
CornerRadii cornerRadii(NotchState state, const NotchStyle& style);
// Width of the outline around a notch `notchWidth` wide: the notch plus both top fillets.
qreal outlineWidth(NotchState state, const NotchStyle& style, qreal notchWidth);

struct Shadow {
    qreal opacity = 0;
    qreal radius = 0;
    bool operator==(const Shadow&) const = default;
};
// Black shadow behind the notch: strongest while hovered (with increaseShadow), lighter while
// expanded, none while compact and not hovered.
Shadow shadow(NotchState state, bool hovering, NotchHoverBehavior behavior);

} // namespace velline::notchgeometry
