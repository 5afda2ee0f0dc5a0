#pragma once

#include <QRectF>
#include <QSizeF>

// Where the quick-add panel sits and how it changes size. Window coordinates, top-left origin,
// in logical pixels.
namespace velline::quickaddgeometry {

inline constexpr qreal kMinimumWidth = 560;
inline constexpr qreal kMinimumHeight = 70;
// Size of the panel before its content has reported one.
inline constexpr QSizeF kInitialSize{680, 100};
// The panel's centre sits this far down the available area of its screen.
inline constexpr qreal kCentreFromTop = 0.38;

// `size` at least kMinimumWidth x kMinimumHeight.
QSizeF clampedSize(const QSizeF& size);

// The frame of a panel of `size` on a screen whose available area is `available`: centred
// horizontally, its centre kCentreFromTop of the way down.
QRectF placedFrame(const QRectF& available, const QSizeF& size);

// `frame` resized to the content size `content` (clamped): the top edge and the horizontal
// centre stay, so the panel grows and shrinks downwards. A size with a zero or negative side
// is ignored (the frame comes back unchanged).
QRectF resizedFrame(const QRectF& frame, const QSizeF& content);

} // namespace velline::quickaddgeometry
