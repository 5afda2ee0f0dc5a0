#include "notch/rollingtext.h"

#include "notch/notchformat.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPointer>
#include <QQuickWindow>
#include <QSGImageNode>
#include <QSGRenderNode>
#include <QSGRendererInterface>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace velline {

RollStep rollStep(double progress, double lineHeight) {
    const double p = std::clamp(progress, 0.0, 1.0);
    return {-lineHeight * 0.5 * p, 1 - p, lineHeight * 0.5 * (1 - p), p};
}

void RollingLine::setText(const QString& text, double now, double duration) {
    m_duration = std::max(0.0, duration);
    if (text.size() != m_text.size()) {
        m_cells.clear();
        m_cells.reserve(text.size());
        for (const QChar c : text)
            m_cells.append(Cell{c, c, now, false});
    } else {
        for (qsizetype i = 0; i < text.size(); ++i) {
            Cell& cell = m_cells[i];
            if (text.at(i) == cell.shown)
                continue;
            cell.previous = cell.shown;
            cell.shown = text.at(i);
            cell.start = now;
            cell.rolling = m_duration > 0;
        }
    }
    m_text = text;
}

double RollingLine::progress(qsizetype index, double now) const {
    const Cell& cell = m_cells.at(index);
    if (!cell.rolling || m_duration <= 0)
        return 1;
    return timingCurveValue(TimingCurve::easeInOut, (now - cell.start) / m_duration);
}

bool RollingLine::isMovingAt(double now) const {
    return std::any_of(m_cells.begin(), m_cells.end(), [&](const Cell& cell) {
        return cell.rolling && now < cell.start + m_duration;
    });
}

bool RollingLine::settle(double now) {
    bool ended = false;
    for (Cell& cell : m_cells) {
        if (cell.rolling && now >= cell.start + m_duration) {
            cell.rolling = false;
            ended = true;
        }
    }
    return ended;
}

QRectF rollingSpan(const QList<qreal>& positions, const QList<bool>& rolling, qreal height) {
    qsizetype first = -1;
    qsizetype last = -1;
    for (qsizetype i = 0; i < rolling.size() && i + 1 < positions.size(); ++i) {
        if (!rolling.at(i))
            continue;
        if (first < 0)
            first = i;
        last = i;
    }
    if (first < 0)
        return {};
    return QRectF(QPointF(positions.at(first), 0), QPointF(positions.at(last + 1), height));
}

namespace {

// Glyphs of one character placed in the item, at an opacity.
struct GlyphsAt {
    QList<QGlyphRun> runs;
    QPointF at;
    qreal opacity;
};

void drawGlyphs(QPainter* painter, const QList<GlyphsAt>& glyphs, const QColor& color,
                qreal opacity) {
    painter->setBrush(QBrush());
    painter->setPen(color);
    for (const GlyphsAt& g : glyphs) {
        // Nothing is drawn at no opacity, as the scene graph skips a transparent text.
        if (qFuzzyIsNull(static_cast<float>(g.opacity * opacity)))
            continue;
        painter->setOpacity(opacity * g.opacity);
        for (const QGlyphRun& run : g.runs)
            painter->drawGlyphRun(g.at, run);
    }
}

// Draws characters with the QPainter of the software scene graph, in item coordinates, inside
// `rect` (what the scene graph repaints when the node changes).
class GlyphsNode final : public QSGRenderNode {
public:
    explicit GlyphsNode(QQuickWindow* window) : m_window(window) {}

    void set(QList<GlyphsAt> glyphs, const QColor& color, const QRectF& rect) {
        m_glyphs = std::move(glyphs);
        m_color = color;
        m_rect = rect;
        markDirty(QSGNode::DirtyMaterial);
    }
    bool isEmpty() const { return m_glyphs.isEmpty(); }

    void render(const RenderState* state) override {
        if (m_glyphs.isEmpty() || m_color.alpha() == 0 || !m_window)
            return;
        auto* painter = static_cast<QPainter*>(m_window->rendererInterface()->getResource(
            m_window, QSGRendererInterface::PainterResource));
        if (!painter)
            return;
        // What the scene graph repaints: nothing at all when the node lies wholly outside its
        // clip (the scene graph still asks it to render then, with an empty region). The clip
        // goes in before the transform: it is in window coordinates.
        const QRegion* clip = state->clipRegion();
        if (!clip || clip->isEmpty())
            return;
        painter->setClipRegion(*clip, Qt::ReplaceClip);
        painter->setTransform(matrix()->toTransform());
        drawGlyphs(painter, m_glyphs, m_color, inheritedOpacity());
    }

    StateFlags changedStates() const override { return {}; }
    RenderingFlags flags() const override { return BoundedRectRendering; }
    QRectF rect() const override { return m_rect; }

private:
    QPointer<QQuickWindow> m_window;
    QList<GlyphsAt> m_glyphs;
    QColor m_color;
    QRectF m_rect;
};

// The two drawings of the software scene graph: the cells standing and the cells rolling.
class LineNode final : public QSGNode {
public:
    explicit LineNode(QQuickWindow* window)
        : still(new GlyphsNode(window)), rolling(new GlyphsNode(window)) {
        appendChildNode(still);
        appendChildNode(rolling);
    }
    GlyphsNode* still;
    GlyphsNode* rolling;
};

// Other scene graphs: the whole line painted into one texture.
class LineImageNode final : public QSGNode {
public:
    explicit LineImageNode(QQuickWindow* window) : image(window->createImageNode()) {
        image->setOwnsTexture(true);
        appendChildNode(image);
    }
    QSGImageNode* image;
};

} // namespace

RollingText::RollingText(QQuickItem* parent) : RollingText(Clock::system(), parent) {}

RollingText::RollingText(Clock* clock, QQuickItem* parent)
    : QQuickItem(parent), m_clock(clock),
      m_ticker(
          this, MotionKind::travel, [this] { update(); },
          [this] { return m_line.isMovingAt(m_clock->now()); }) {
    setFlag(ItemHasContents);
    setClip(true);
    relayout();
}

RollingText::~RollingText() = default;

void RollingText::setText(const QString& text) {
    if (text == m_line.text())
        return;
    const double now = m_clock->now();
    m_line.setText(text, now, m_duration / 1000.0);
    relayout();
    if (m_line.isMovingAt(now))
        m_ticker.start(m_clock);
    Q_EMIT textChanged();
}

void RollingText::setFont(const QFont& font) {
    if (font == m_font)
        return;
    m_font = font;
    m_glyphs.clear();
    m_advances.clear();
    relayout();
    Q_EMIT fontChanged();
}

void RollingText::setColor(const QColor& color) {
    if (color == m_color)
        return;
    m_color = color;
    m_stillDirty = true;
    update();
    Q_EMIT colorChanged();
}

void RollingText::setDuration(int ms) {
    if (ms == m_duration)
        return;
    m_duration = ms;
    Q_EMIT durationChanged();
}

void RollingText::relayout() {
    const QFontMetricsF metrics(m_font);
    m_figureWidth = velline::figureWidth(m_font);
    m_lineHeight = metrics.height();
    m_positions = tabularPositions(m_line.text(), m_font);
    setImplicitSize(m_positions.last(), m_lineHeight);
    m_stillDirty = true;
    update();
}

const QList<QGlyphRun>& RollingText::glyphs(QChar c) {
    auto it = m_glyphs.find(c);
    if (it == m_glyphs.end()) {
        // Laid out as a text item lays out its line, so the glyphs land on the same pixels.
        QTextLayout layout(QString(c), m_font);
        layout.setCacheEnabled(true);
        layout.beginLayout();
        QTextLine line = layout.createLine();
        line.setPosition(QPointF(0, 0));
        layout.endLayout();
        it = m_glyphs.insert(c, layout.glyphRuns());
    }
    return *it;
}

qreal RollingText::inset(QChar c) const {
    if (!c.isDigit())
        return 0;
    return (m_figureWidth - QFontMetricsF(m_font).horizontalAdvance(c)) / 2;
}

QRectF RollingText::rollingRect() const {
    const double now = m_clock->now();
    QList<bool> rolling;
    rolling.reserve(m_line.cells().size());
    for (qsizetype i = 0; i < m_line.cells().size(); ++i)
        rolling.append(m_line.isRolling(i, now));
    return paddedSpan(rolling);
}

QRectF RollingText::paddedSpan(const QList<bool>& rolling) const {
    const QRectF span = rollingSpan(m_positions, rolling, m_lineHeight);
    if (span.isEmpty())
        return span;
    // A glyph's ink may reach a little past its cell.
    return span.adjusted(-2, 0, 2, 0).intersected(QRectF(0, 0, m_positions.last(), m_lineHeight));
}

QSGNode* RollingText::updatePaintNode(QSGNode* node, UpdatePaintNodeData*) {
    if (!window()) {
        delete node;
        return nullptr;
    }
    const double now = m_clock->now();
    if (m_line.settle(now))
        m_stillDirty = true;

    QList<GlyphsAt> still;
    QList<GlyphsAt> rolling;
    QList<bool> rollingCells;
    const QList<RollingLine::Cell>& cells = m_line.cells();
    for (qsizetype i = 0; i < cells.size() && i + 1 < m_positions.size(); ++i) {
        const RollingLine::Cell& cell = cells.at(i);
        const qreal x = m_positions.at(i);
        const double progress = m_line.progress(i, now);
        rollingCells.append(progress < 1);
        if (progress >= 1) {
            still.append({glyphs(cell.shown), QPointF(x + inset(cell.shown), 0), 1.0});
            continue;
        }
        const RollStep step = rollStep(progress, m_lineHeight);
        rolling.append({glyphs(cell.previous), QPointF(x + inset(cell.previous), step.previousY),
                        step.previousOpacity});
        rolling.append({glyphs(cell.shown), QPointF(x + inset(cell.shown), step.currentY),
                        step.currentOpacity});
    }
    const QRectF bounds(0, 0, m_positions.last(), m_lineHeight);

    if (window()->rendererInterface()->graphicsApi() == QSGRendererInterface::Software) {
        auto* line = dynamic_cast<LineNode*>(node);
        if (!line) {
            delete node;
            line = new LineNode(window());
            m_stillDirty = true;
        }
        if (m_stillDirty)
            line->still->set(std::move(still), m_color, bounds);
        if (!rolling.isEmpty() || !line->rolling->isEmpty())
            line->rolling->set(std::move(rolling), m_color, paddedSpan(rollingCells));
        m_stillDirty = false;
        return line;
    }

    auto* line = dynamic_cast<LineImageNode*>(node);
    if (!line) {
        delete node;
        line = new LineImageNode(window());
    }
    const qreal dpr = window()->effectiveDevicePixelRatio();
    QImage image(std::max(1, static_cast<int>(std::ceil(bounds.width() * dpr))),
                 std::max(1, static_cast<int>(std::ceil(bounds.height() * dpr))),
                 QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        still.append(rolling);
        drawGlyphs(&painter, still, m_color, 1.0);
    }
    line->image->setTexture(window()->createTextureFromImage(image));
    line->image->setRect(QRectF(bounds.topLeft(), QSizeF(image.size()) / dpr));
    m_stillDirty = false;
    return line;
}

} // namespace velline
