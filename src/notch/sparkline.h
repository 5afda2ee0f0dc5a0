#pragma once

#include "notchlayer/notchitems.h"

#include "market/stock.h"

#include <QColor>
#include <QList>
#include <QPointF>
#include <QQuickPaintedItem>
#include <QRectF>
#include <QtQmlIntegration/qqmlintegration.h>

#include <optional>

namespace velline {

// Vertical scale of an intraday chart: prices from `lo` to `lo + range` fill the box height.
struct SparklineScale {
    double lo = 0;
    double range = 0;

    // y of `price` in a box of height `height` whose top is at 0.
    double y(double price, double height) const { return height * (1.0 - (price - lo) / range); }
};

// Where each layer of the chart lies inside `box`.
struct SparklineGeometry {
    SparklineScale scale;
    QList<QPointF> line;      // one point per sample with a usable price, oldest first
    double baselineY = 0;     // y of the previous close
    QList<QPointF> spikeDots; // centres of the spike dots
    std::optional<QPointF> lastDot;
};

// The chart needs at least two samples; with fewer it shows its empty state.
inline constexpr qsizetype sparklineMinimumPoints = 2;

// Values are every price plus the previous close; lo0 and hi their extremes. The pad is 8 % of
// the spread, at least hi x 0.001; lo = lo0 - pad and range = hi + pad - lo, at least 0.0001.
// Non-finite prices take no part in the scale (and draw no point).
SparklineScale sparklineScale(const QList<PricePoint>& points, double previousClose);

// Sample i lies at x = W * i / (n - 1). Spike indices outside the samples draw nothing.
SparklineGeometry sparklineGeometry(const QList<PricePoint>& points, double previousClose,
                                    const QList<int>& spikeIndices, const QRectF& box);

// An intraday line chart: dashed previous-close baseline, a fill fading down from the line,
// the line, dots on the spike samples and a glowing dot on the latest sample. Draws its chart
// `bleed` points inside its own bounds so the dots at the ends are never cut off; place it
// with that much negative margin around the chart's box. The "no data" text is the caller's.
class SparklineCanvas : public ShownPaintedItem {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QList<velline::PricePoint> points READ points WRITE setPoints NOTIFY pointsChanged)
    Q_PROPERTY(
        double previousClose READ previousClose WRITE setPreviousClose NOTIFY previousCloseChanged)
    Q_PROPERTY(QColor tint READ tint WRITE setTint NOTIFY tintChanged)
    Q_PROPERTY(
        QList<int> spikeIndices READ spikeIndices WRITE setSpikeIndices NOTIFY spikeIndicesChanged)
    Q_PROPERTY(bool hasData READ hasData NOTIFY pointsChanged)
    Q_PROPERTY(double bleed READ bleed CONSTANT)
    Q_PROPERTY(QString emptyText READ emptyText CONSTANT)
    Q_PROPERTY(QColor emptyTextColor READ emptyTextColor CONSTANT)

public:
    static constexpr double chartHeight = 34.0;

    explicit SparklineCanvas(QQuickItem* parent = nullptr);

    QList<PricePoint> points() const { return m_points; }
    void setPoints(const QList<PricePoint>& points);
    double previousClose() const { return m_previousClose; }
    void setPreviousClose(double value);
    QColor tint() const { return m_tint; }
    void setTint(const QColor& tint);
    QList<int> spikeIndices() const { return m_spikeIndices; }
    void setSpikeIndices(const QList<int>& indices);

    bool hasData() const { return m_points.size() >= sparklineMinimumPoints; }
    static double bleed() { return 8.0; }
    static QString emptyText() { return QStringLiteral("No intraday data yet"); }
    // textSecondary at opacity 0.7.
    static QColor emptyTextColor();

    // The chart's box inside the item.
    QRectF chartBox() const;
    void paint(QPainter* painter) override;

Q_SIGNALS:
    void pointsChanged();
    void previousCloseChanged();
    void tintChanged();
    void spikeIndicesChanged();

private:
    QList<PricePoint> m_points;
    double m_previousClose = 0;
    QColor m_tint = Qt::white;
    QList<int> m_spikeIndices;
};

} // namespace velline
