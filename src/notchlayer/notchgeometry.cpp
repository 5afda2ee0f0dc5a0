#include "notchlayer/notchgeometry.h"

#include <QScreen>

#include <algorithm>
#include <cmath>

namespace velline {

namespace {

qreal sanitizedRadius(qreal r) {
    return std::isfinite(r) ? std::max<qreal>(0, r) : 0;
}

} // namespace

NotchStyle NotchStyle::notch(qreal topCornerRadius, qreal bottomCornerRadius) {
    NotchStyle s;
    s.m_kind = Kind::notch;
    s.m_top = sanitizedRadius(topCornerRadius);
    s.m_bottom = sanitizedRadius(bottomCornerRadius);
    return s;
}

NotchStyle NotchStyle::floating(qreal cornerRadius) {
    NotchStyle s;
    s.m_kind = Kind::floating;
    s.m_corner = sanitizedRadius(cornerRadius);
    return s;
}

namespace notchgeometry {

qreal topPanelHeight(const QRect& geometry, const QRect& availableGeometry) {
    const int h = availableGeometry.top() - geometry.top();
    return h <= 0 || h >= geometry.height() / 2 ? 0 : h;
}

qreal menubarHeight(const QRect& geometry, const QRect& availableGeometry) {
    const qreal h = topPanelHeight(geometry, availableGeometry);
    return h > 0 ? h : kDefaultMenubarHeight;
}

qreal menubarHeight(const QScreen* screen) {
    return screen ? menubarHeight(screen->geometry(), screen->availableGeometry())
                  : kDefaultMenubarHeight;
}

QRectF notchFrame(const QRect& geometry, const QRect& availableGeometry) {
    const qreal h = menubarHeight(geometry, availableGeometry);
    const qreal midX = geometry.x() + geometry.width() / 2.0;
    return QRectF(midX - kAssumedNotchWidth / 2,
                  geometry.y() + topPanelHeight(geometry, availableGeometry), kAssumedNotchWidth,
                  h);
}

QRectF notchFrame(const QScreen* screen) {
    if (!screen)
        return QRectF(0, 0, kAssumedNotchWidth, kDefaultMenubarHeight);
    return notchFrame(screen->geometry(), screen->availableGeometry());
}

NotchStyle resolvedStyle(const NotchStyle& style, const QScreen*) {
    // A screen with a camera housing would resolve `automatic` to the notch preset; there is no
    // such screen on this platform.
    return style.isAutomatic() ? NotchStyle::floating() : style;
}

QRect panelFrame(const QRect& screenGeometry, const QRect& availableGeometry) {
    // Half of a small screen (1920 × 1080 at twice the scale is 960 points wide) would cut
    // off the compact notch's sides.
    const int w =
        std::min(screenGeometry.width(), std::max(screenGeometry.width() / 2, kMinimumPanelWidth));
    const int h = screenGeometry.height() / 2;
    const int x = screenGeometry.x() + (screenGeometry.width() - w) / 2;
    const int top = static_cast<int>(topPanelHeight(screenGeometry, availableGeometry));
    return QRect(x, screenGeometry.y() + top, w, h);
}

namespace {

// The radii an outline of `rect` is drawn with: each reduced so the outline never folds.
CornerRadii fittedRadii(const QRectF& rect, qreal top, qreal bottom) {
    const qreal w = std::max<qreal>(0, rect.width());
    const qreal h = std::max<qreal>(0, rect.height());
    const qreal t = std::min({sanitizedRadius(top), w / 2, h});
    const qreal b = std::min({sanitizedRadius(bottom), (w - 2 * t) / 2, h - t});
    return {t, b};
}

} // namespace

QList<PathElement> notchOutline(const QRectF& rect, qreal top, qreal bottom) {
    using T = PathElement::Type;
    const qreal minX = rect.left();
    const qreal minY = rect.top();
    const qreal maxX = rect.right();
    const qreal maxY = rect.bottom();
    const auto [t, b] = fittedRadii(rect, top, bottom);
    return {
        {T::moveTo, {minX, minY}, {}},         {T::quadTo, {minX + t, minY + t}, {minX + t, minY}},
        {T::lineTo, {minX + t, maxY - b}, {}}, {T::quadTo, {minX + t + b, maxY}, {minX + t, maxY}},
        {T::lineTo, {maxX - t - b, maxY}, {}}, {T::quadTo, {maxX - t, maxY - b}, {maxX - t, maxY}},
        {T::lineTo, {maxX - t, minY + t}, {}}, {T::quadTo, {maxX, minY}, {maxX - t, minY}},
        {T::lineTo, {minX, minY}, {}},
    };
}

QRectF contentRect(const QRectF& rect, qreal top, qreal bottom) {
    if (rect.width() <= 0 || rect.height() <= 0)
        return {};
    const auto [t, b] = fittedRadii(rect, top, bottom);
    // A bottom corner runs from (t, h - b) to (t + b, h) on a quadratic curve bent by (t, h):
    // its points are t + b·s², h − b·(1 − s)². A rectangle's corner meets it at s = ½, a
    // quarter of the radius in from either edge. One point more keeps the content clear of
    // the outline's antialiased edge, where it would blend with whatever lies behind.
    const qreal cut = b / 4 + kContentMargin;
    const QRectF inner(QPointF(rect.left() + t + cut, rect.top()),
                       QPointF(rect.right() - t - cut, rect.bottom() - cut));
    return inner.isValid() ? inner : QRectF();
}

QPainterPath toPainterPath(const QList<PathElement>& outline) {
    QPainterPath path;
    for (const auto& e : outline) {
        switch (e.type) {
        case PathElement::Type::moveTo:
            path.moveTo(e.to);
            break;
        case PathElement::Type::lineTo:
            path.lineTo(e.to);
            break;
        case PathElement::Type::quadTo:
            path.quadTo(e.control, e.to);
            break;
        }
    }
    path.closeSubpath();
    return path;
}

QString toSvgPath(const QList<PathElement>& outline) {
    QString d;
    const auto num = [](qreal v) { return QString::number(v, 'g', 8); };
    const auto pt = [&](QPointF p) { return num(p.x()) + QLatin1Char(' ') + num(p.y()); };
    for (const auto& e : outline) {
        switch (e.type) {
        case PathElement::Type::moveTo:
            d += QLatin1String("M ") + pt(e.to) + QLatin1Char(' ');
            break;
        case PathElement::Type::lineTo:
            d += QLatin1String("L ") + pt(e.to) + QLatin1Char(' ');
            break;
        case PathElement::Type::quadTo:
            d += QLatin1String("Q ") + pt(e.control) + QLatin1Char(' ') + pt(e.to) +
                 QLatin1Char(' ');
            break;
        }
    }
    return d + QLatin1Char('Z');
}

CornerRadii cornerRadii(NotchState state, const NotchStyle& style) {
    if (state != NotchState::expanded)
        return {6, 14};
    if (style.isNotch())
        return {style.topCornerRadius(), style.bottomCornerRadius()};
    return {15, 20};
}

qreal outlineWidth(NotchState state, const NotchStyle& style, qreal notchWidth) {
    return notchWidth + 2 * cornerRadii(state, style).top;
}

Shadow shadow(NotchState state, bool hovering, NotchHoverBehavior behavior) {
    const bool stronger = hovering && behavior.testFlag(NotchHoverOption::increaseShadow);
    Shadow s;
    s.opacity = stronger ? 0.8 : state == NotchState::expanded ? 0.5 : 0;
    s.radius = state == NotchState::hidden ? 0 : stronger ? 20 : 10;
    return s;
}

} // namespace notchgeometry
} // namespace velline
