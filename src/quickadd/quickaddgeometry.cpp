#include "quickadd/quickaddgeometry.h"

#include <algorithm>

namespace velline::quickaddgeometry {

QSizeF clampedSize(const QSizeF& size) {
    return {std::max(kMinimumWidth, size.width()), std::max(kMinimumHeight, size.height())};
}

QRectF placedFrame(const QRectF& available, const QSizeF& size) {
    const QSizeF s = clampedSize(size);
    const qreal x = available.center().x() - s.width() / 2;
    const qreal y = available.top() + kCentreFromTop * available.height() - s.height() / 2;
    return {QPointF(x, y), s};
}

QRectF resizedFrame(const QRectF& frame, const QSizeF& content) {
    if (!(content.width() > 0 && content.height() > 0))
        return frame;
    const QSizeF s = clampedSize(content);
    const qreal x = frame.x() + (frame.width() - s.width()) / 2;
    return {QPointF(x, frame.y()), s};
}

} // namespace velline::quickaddgeometry
