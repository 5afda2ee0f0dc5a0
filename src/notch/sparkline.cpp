#include "notch/sparkline.h"

#include "notch/notchtheme.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QRadialGradient>

#include <algorithm>
#include <cmath>

namespace velline {

SparklineScale sparklineScale(const QList<PricePoint>& points, double previousClose) {
    bool any = false;
    double lo0 = 0;
    double hi = 0;
    auto take = [&](double value) {
        if (!std::isfinite(value))
            return;
        lo0 = any ? std::min(lo0, value) : value;
        hi = any ? std::max(hi, value) : value;
        any = true;
    };
    for (const PricePoint& point : points)
        take(point.price);
    take(previousClose);

    const double pad = std::max((hi - lo0) * 0.08, hi * 0.001);
    SparklineScale scale;
    scale.lo = lo0 - pad;
    scale.range = std::max(hi + pad - scale.lo, 0.0001);
    return scale;
}

SparklineGeometry sparklineGeometry(const QList<PricePoint>& points, double previousClose,
                                    const QList<int>& spikeIndices, const QRectF& box) {
    SparklineGeometry g;
    g.scale = sparklineScale(points, previousClose);
    const double height = box.height();
    const double baseline = std::isfinite(previousClose) ? previousClose : g.scale.lo;
    g.baselineY = box.top() + g.scale.y(baseline, height);

    const qsizetype n = points.size();
    if (n < sparklineMinimumPoints)
        return g;

    QList<std::optional<QPointF>> at(n);
    for (qsizetype i = 0; i < n; ++i) {
        const double price = points.at(i).price;
        if (!std::isfinite(price))
            continue;
        const double x =
            box.left() + box.width() * static_cast<double>(i) / static_cast<double>(n - 1);
        at[i] = QPointF(x, box.top() + g.scale.y(price, height));
        g.line.append(*at[i]);
    }
    for (int index : spikeIndices) {
        if (index >= 0 && index < n && at.at(index))
            g.spikeDots.append(*at.at(index));
    }
    if (!g.line.isEmpty())
        g.lastDot = g.line.constLast();
    return g;
}

SparklineCanvas::SparklineCanvas(QQuickItem* parent) : ShownPaintedItem(parent) {
    setAntialiasing(true);
}

void SparklineCanvas::setPoints(const QList<PricePoint>& points) {
    if (points == m_points)
        return;
    m_points = points;
    update();
    Q_EMIT pointsChanged();
}

void SparklineCanvas::setPreviousClose(double value) {
    if (value == m_previousClose)
        return;
    m_previousClose = value;
    update();
    Q_EMIT previousCloseChanged();
}

void SparklineCanvas::setTint(const QColor& tint) {
    if (tint == m_tint)
        return;
    m_tint = tint;
    update();
    Q_EMIT tintChanged();
}

void SparklineCanvas::setSpikeIndices(const QList<int>& indices) {
    if (indices == m_spikeIndices)
        return;
    m_spikeIndices = indices;
    update();
    Q_EMIT spikeIndicesChanged();
}

QColor SparklineCanvas::emptyTextColor() {
    QColor color = NotchPalette::textSecondary();
    color.setAlphaF(color.alphaF() * 0.7f);
    return color;
}

QRectF SparklineCanvas::chartBox() const {
    const double b = bleed();
    return QRectF(b, b, std::max(width() - 2 * b, 0.0), std::max(height() - 2 * b, 0.0));
}

namespace {

QColor faded(QColor color, double opacity) {
    color.setAlphaF(static_cast<float>(color.alphaF() * opacity));
    return color;
}

void drawBaseline(QPainter* painter, const QRectF& box, double y) {
    constexpr double width = 0.6;
    QPen pen(faded(NotchPalette::textTertiary(), 0.6), width);
    pen.setCapStyle(Qt::FlatCap);
    // QPen counts dashes in pen widths: 2 points on, 2 points off.
    pen.setDashPattern({2.0 / width, 2.0 / width});
    painter->setPen(pen);
    painter->setBrush(Qt::NoBrush);
    painter->drawLine(QPointF(box.left(), y), QPointF(box.right(), y));
}

} // namespace

void SparklineCanvas::paint(QPainter* painter) {
    painter->setRenderHint(QPainter::Antialiasing, true);
    const QRectF box = chartBox();
    if (box.isEmpty())
        return;

    if (!hasData()) {
        drawBaseline(painter, box, box.center().y());
        return;
    }

    const SparklineGeometry g = sparklineGeometry(m_points, m_previousClose, m_spikeIndices, box);
    drawBaseline(painter, box, g.baselineY);
    if (g.line.size() < 2) {
        // Every sample but one had no usable price: nothing to join.
        if (g.lastDot) {
            painter->setPen(Qt::NoPen);
            painter->setBrush(m_tint);
            painter->drawEllipse(*g.lastDot, 2.0, 2.0);
        }
        return;
    }

    // Fill between the line and the bottom edge, fading out downwards.
    QPainterPath area;
    area.moveTo(g.line.constFirst().x(), box.bottom());
    for (const QPointF& p : g.line)
        area.lineTo(p);
    area.lineTo(g.line.constLast().x(), box.bottom());
    area.closeSubpath();
    QLinearGradient gradient(box.topLeft(), box.bottomLeft());
    gradient.setColorAt(0, faded(m_tint, 0.28));
    gradient.setColorAt(1, faded(m_tint, 0.0));
    painter->setPen(Qt::NoPen);
    painter->setBrush(gradient);
    painter->drawPath(area);

    QPen line(m_tint, 1.4);
    line.setCapStyle(Qt::RoundCap);
    line.setJoinStyle(Qt::RoundJoin);
    painter->setPen(line);
    painter->setBrush(Qt::NoBrush);
    painter->drawPolyline(g.line.constData(), static_cast<int>(g.line.size()));

    painter->setPen(QPen(QColor::fromRgbF(0, 0, 0, 0.5f), 1.0));
    painter->setBrush(m_tint);
    for (const QPointF& p : g.spikeDots)
        painter->drawEllipse(p, 2.5, 2.5);

    // The latest sample: a soft halo of radius 3 around a 4-point dot.
    const QPointF last = *g.lastDot;
    constexpr double dotRadius = 2.0;
    constexpr double glowRadius = dotRadius + 3.0 * 1.5;
    QRadialGradient halo(last, glowRadius);
    halo.setColorAt(0, faded(m_tint, 0.6));
    halo.setColorAt(dotRadius / glowRadius, faded(m_tint, 0.45));
    halo.setColorAt(1, faded(m_tint, 0.0));
    painter->setPen(Qt::NoPen);
    painter->setBrush(halo);
    painter->drawEllipse(last, glowRadius, glowRadius);
    painter->setBrush(m_tint);
    painter->drawEllipse(last, dotRadius, dotRadius);
}

} // namespace velline
