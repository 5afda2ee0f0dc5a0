#include "notch/symbolimage.h"

#include "notch/notchformat.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPathStroker>
#include <QQuickWindow>

#include <algorithm>
#include <cmath>

namespace velline {

namespace {

enum class Arrow { none, up, down, upRight, downRight };

Arrow arrowOf(const QString& name) {
    if (name == QLatin1String("arrow.up"))
        return Arrow::up;
    if (name == QLatin1String("arrow.down"))
        return Arrow::down;
    if (name == QLatin1String("arrow.up.right"))
        return Arrow::upRight;
    if (name == QLatin1String("arrow.down.right"))
        return Arrow::downRight;
    return Arrow::none;
}

const SymbolGlyph* findSymbol(const QString& name) {
    const auto& table = symbolGlyphs();
    const auto it = std::find_if(table.begin(), table.end(),
                                 [&](const SymbolGlyph& s) { return s.name == name; });
    return it == table.end() ? nullptr : &*it;
}

QFont iconFont(qreal points) {
    QFont font(iconFontFamily());
    font.setPixelSize(
        std::max(1, static_cast<int>(std::lround(NotchFormat::symbolPixelSize(points)))));
    return font;
}

// The filled outline of `path` stroked `width` wide, as one shape.
QPainterPath strokeShape(const QPainterPath& path, qreal width, Qt::PenCapStyle cap,
                         Qt::PenJoinStyle join) {
    QPainterPathStroker stroker;
    stroker.setWidth(width);
    stroker.setCapStyle(cap);
    stroker.setJoinStyle(join);
    stroker.setMiterLimit(4);
    QPainterPath shape = stroker.createStroke(path);
    shape.setFillRule(Qt::WindingFill);
    return shape.simplified();
}

// An arrow drawn in device pixels and handed back in points: shaft and head are strokes whose
// width is a whole number of pixels, centred on pixel centres (odd widths) or pixel edges (even
// widths), so the straight parts cover whole pixels.
QPainterPath arrowShape(Arrow arrow, qreal points, int weight, const QSizeF& box, qreal dpr) {
    const qreal stroke =
        std::max<qreal>(1, std::round(SymbolImage::strokeWidth(points, weight) * dpr + 0.3));
    // About the height of a capital of the text it stands beside.
    const qreal length = std::max<qreal>(5, std::round(0.86 * points * dpr));
    const qreal head = std::round(length * 0.45);
    const qreal w = box.width() * dpr;
    const qreal h = box.height() * dpr;
    // Centre on the pixel grid: a pixel centre for odd strokes, a pixel edge for even ones.
    const qreal offset = std::fmod(stroke, 2) == 1 ? 0.5 : 0;
    const qreal cx = std::floor(w / 2) + offset;
    const qreal top = std::round((h - length) / 2);
    const qreal bottom = top + length;

    QPainterPath path;
    switch (arrow) {
    case Arrow::up:
    case Arrow::down: {
        // Drawn pointing up; the tip sits half a stroke inside the box.
        const qreal tip = top + stroke / 2;
        path.moveTo(cx, bottom);
        path.lineTo(cx, tip);
        path.moveTo(cx - head, tip + head);
        path.lineTo(cx, tip);
        path.lineTo(cx + head, tip + head);
        break;
    }
    case Arrow::upRight:
    case Arrow::downRight: {
        // Drawn pointing up and right, in a square of `length` centred in the box.
        const qreal left = std::round(cx - length / 2) + offset;
        const qreal right = left + length - stroke;
        const qreal high = top + stroke / 2;
        const qreal low = high + length - stroke;
        const qreal arm = std::round(length * 0.62);
        path.moveTo(left, low);
        path.lineTo(right, high);
        path.moveTo(right - arm, high);
        path.lineTo(right, high);
        path.lineTo(right, high + arm);
        break;
    }
    case Arrow::none:
        return {};
    }
    QPainterPath shape = strokeShape(path, stroke, Qt::SquareCap, Qt::MiterJoin);
    // Keep the miter of the tip inside the drawing: the outline is clipped to the box.
    QPainterPath bounds;
    bounds.addRect(QRectF(0, 0, w, h));
    shape = shape.intersected(bounds);
    if (arrow == Arrow::down || arrow == Arrow::downRight) {
        // Mirrored top to bottom about the arrow's own middle, so it stays on the grid.
        shape = QTransform(1, 0, 0, -1, 0, top + bottom).map(shape);
    }
    return QTransform::fromScale(1 / dpr, 1 / dpr).map(shape);
}

QPainterPath glyphShape(char32_t glyph, qreal points, int weight, const QSizeF& box) {
    if (glyph == 0)
        return {};
    const QFont font = iconFont(points);
    const QFontMetricsF metrics(font);
    const QString text = QString::fromUcs4(&glyph, 1);
    QPainterPath path;
    // Where a Text of the same font, centred in the box, would draw it.
    const QPointF origin((box.width() - metrics.horizontalAdvance(text)) / 2,
                         (box.height() - metrics.height()) / 2 + metrics.ascent());
    path.addText(origin, font, text);
    path.setFillRule(Qt::WindingFill);
    // The icon font has a single weight: heavier symbols grow by a stroke around their shape,
    // merged into it so the colour is laid down once.
    if (weight >= QFont::DemiBold) {
        const qreal grow = SymbolImage::strokeWidth(points, weight) -
                           SymbolImage::strokeWidth(points, QFont::Normal);
        if (grow > 0)
            path = path.united(strokeShape(path, grow, Qt::RoundCap, Qt::RoundJoin));
    }
    return path.simplified();
}

} // namespace

SymbolImage::SymbolImage(QQuickItem* parent) : ShownPaintedItem(parent) {
    setAntialiasing(true);
    invalidate();
}

void SymbolImage::setName(const QString& name) {
    if (name == m_name)
        return;
    const bool wasLayered = layered();
    m_name = name;
    invalidate();
    Q_EMIT nameChanged();
    if (wasLayered != layered())
        Q_EMIT layeredChanged();
}

void SymbolImage::setPointSize(qreal points) {
    if (!std::isfinite(points) || points <= 0 || points == m_pointSize)
        return;
    m_pointSize = points;
    invalidate();
    Q_EMIT pointSizeChanged();
}

void SymbolImage::setWeight(int weight) {
    if (weight == m_weight)
        return;
    m_weight = weight;
    invalidate();
    Q_EMIT weightChanged();
}

void SymbolImage::setColor(const QColor& color) {
    if (color == m_color)
        return;
    m_color = color;
    update();
    Q_EMIT colorChanged();
}

void SymbolImage::setSecondaryColor(const QColor& color) {
    if (color == m_secondary)
        return;
    const bool wasLayered = layered();
    m_secondary = color;
    if (wasLayered != layered())
        m_dirty = true;
    update();
    Q_EMIT secondaryColorChanged();
    if (wasLayered != layered())
        Q_EMIT layeredChanged();
}

bool SymbolImage::layered() const {
    const SymbolGlyph* symbol = findSymbol(m_name);
    return m_secondary.alpha() > 0 && symbol && symbol->back != 0;
}

qreal SymbolImage::strokeWidth(qreal points, int weight) {
    // A regular stroke is about a tenth of the text size; black about twice that.
    constexpr int thin = QFont::Thin;
    constexpr int black = QFont::Black;
    const qreal w = std::clamp(weight, thin, black);
    return points * (0.06 + 0.12 * (w - thin) / (black - thin));
}

SymbolImage::Layers SymbolImage::shapes(const QString& name, qreal points, int weight,
                                        const QSizeF& box, qreal dpr, bool twoColours) {
    Layers layers;
    if (const Arrow arrow = arrowOf(name); arrow != Arrow::none) {
        layers.front = arrowShape(arrow, points, weight, box, dpr);
        return layers;
    }
    const SymbolGlyph* symbol = findSymbol(name);
    if (!symbol)
        return layers;
    if (twoColours && symbol->back != 0) {
        layers.back = glyphShape(symbol->back, points, weight, box);
        layers.front = glyphShape(symbol->front, points, weight, box);
    } else {
        layers.front = glyphShape(symbol->glyph, points, weight, box);
    }
    return layers;
}

void SymbolImage::invalidate() {
    // The same box a Text of the icon font gives the glyph, so rows lay out as before.
    const QFontMetricsF metrics(iconFont(m_pointSize));
    const QString glyph = symbolGlyphText(m_name);
    setImplicitSize(glyph.isEmpty() ? 0 : std::ceil(metrics.horizontalAdvance(glyph)),
                    glyph.isEmpty() ? 0 : std::ceil(metrics.height()));
    m_dirty = true;
    update();
}

void SymbolImage::itemChange(ItemChange change, const ItemChangeData& value) {
    ShownPaintedItem::itemChange(change, value);
    if (change == ItemDevicePixelRatioHasChanged || change == ItemSceneChange)
        invalidate();
}

void SymbolImage::geometryChange(const QRectF& newGeometry, const QRectF& oldGeometry) {
    QQuickPaintedItem::geometryChange(newGeometry, oldGeometry);
    if (newGeometry.size() != oldGeometry.size())
        m_dirty = true;
}

void SymbolImage::paint(QPainter* painter) {
    const qreal dpr = window() ? window()->effectiveDevicePixelRatio() : 1.0;
    if (m_dirty || dpr != m_layersDpr) {
        m_layers = shapes(m_name, m_pointSize, m_weight, size(), dpr, layered());
        m_layersDpr = dpr;
        m_dirty = false;
    }
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(Qt::NoPen);
    if (!m_layers.back.isEmpty())
        painter->fillPath(m_layers.back, m_secondary);
    painter->fillPath(m_layers.front, m_color);
}

} // namespace velline
