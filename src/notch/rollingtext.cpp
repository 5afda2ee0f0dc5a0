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
// `rect` (what the scene graph repaints when the node changes). The glyphs are kept between
// frames: a frame of a roll only moves them.
class GlyphsNode final : public QSGRenderNode {
public:
    explicit GlyphsNode(QQuickWindow* window) : m_window(window) {}

    QList<GlyphsAt>& glyphs() { return m_glyphs; }
    bool isEmpty() const { return m_glyphs.isEmpty(); }
    // The glyphs, their colour or their place changed.
    void changed(const QColor& color, const QRectF& rect) {
        m_color = color;
        m_rect = rect;
        markDirty(QSGNode::DirtyMaterial);
    }

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
    QList<GlyphsAt> still;
    QList<GlyphsAt> rolling;
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
    refont();
    relayout();
}

RollingText::~RollingText() = default;

void RollingText::setText(const QString& text) {
    if (text == m_line.text())
        return;
    const double now = m_clock->now();
    // Hidden, nobody sees a roll: the new text stands at once.
    m_line.setText(text, now, isVisible() ? m_duration / 1000.0 : 0.0);
    relayout();
    if (m_line.isMovingAt(now))
        m_ticker.start(m_clock);
    Q_EMIT textChanged();
}

void RollingText::setFont(const QFont& font) {
    if (font == m_font)
        return;
    m_font = font;
    refont();
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

void RollingText::refont() {
    m_glyphs.clear();
    m_advances.clear();
    m_figureWidth = velline::figureWidth(m_font);
    m_lineHeight = QFontMetricsF(m_font).height();
}

void RollingText::relayout() {
    // The cells' left edges as tabularPositions() places them, from the advances at hand.
    const QString text = m_line.text();
    m_positions.clear();
    m_positions.reserve(text.size() + 1);
    qreal x = 0;
    for (const QChar c : text) {
        m_positions.append(x);
        x += c.isDigit() ? m_figureWidth : advance(c);
    }
    m_positions.append(x);
    setImplicitSize(x, m_lineHeight);
    m_cellGlyphsStale = true;
    m_stillDirty = true;
    update();
}

void RollingText::layOutCellGlyphs() {
    const QList<RollingLine::Cell>& cells = m_line.cells();
    m_cellGlyphs.resize(std::min(cells.size(), m_positions.size() - 1));
    for (qsizetype i = 0; i < m_cellGlyphs.size(); ++i) {
        const RollingLine::Cell& cell = cells.at(i);
        CellGlyphs& g = m_cellGlyphs[i];
        g.shown = glyphs(cell.shown);
        g.shownX = m_positions.at(i) + inset(cell.shown);
        g.previous = glyphs(cell.previous);
        g.previousX = m_positions.at(i) + inset(cell.previous);
    }
    m_cellGlyphsStale = false;
}

QList<QGlyphRun> RollingText::glyphs(QChar c) {
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

qreal RollingText::advance(QChar c) {
    auto it = m_advances.find(c);
    if (it == m_advances.end())
        it = m_advances.insert(c, QFontMetricsF(m_font).horizontalAdvance(c));
    return *it;
}

qreal RollingText::inset(QChar c) {
    return c.isDigit() ? (m_figureWidth - advance(c)) / 2 : 0;
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
    const bool software =
        window()->rendererInterface()->graphicsApi() == QSGRendererInterface::Software;
    if (software && !dynamic_cast<LineNode*>(node)) {
        delete node;
        node = new LineNode(window());
        m_stillDirty = true;
    } else if (!software && !dynamic_cast<LineImageNode*>(node)) {
        delete node;
        node = new LineImageNode(window());
        m_stillDirty = true;
    }

    const double now = m_clock->now();
    if (m_line.settle(now))
        m_stillDirty = true;
    if (m_cellGlyphsStale)
        layOutCellGlyphs();
    // The drawings are laid anew only when what they show or which cells roll changed; a
    // frame in the middle of a roll moves the rolling glyphs and nothing else.
    const qsizetype count = m_cellGlyphs.size();
    bool relaid = m_stillDirty || m_rollingCells.size() != count;
    m_rollingCells.resize(count);
    for (qsizetype i = 0; i < count; ++i) {
        const bool rolling = m_line.isRolling(i, now);
        relaid = relaid || m_rollingCells.at(i) != rolling;
        m_rollingCells[i] = rolling;
    }
    auto place = [&](QList<GlyphsAt>& still, QList<GlyphsAt>& rolling) {
        if (relaid) {
            still.clear();
            rolling.clear();
        }
        qsizetype r = 0;
        for (qsizetype i = 0; i < count; ++i) {
            const CellGlyphs& cell = m_cellGlyphs.at(i);
            if (!m_rollingCells.at(i)) {
                if (relaid)
                    still.append({cell.shown, QPointF(cell.shownX, 0), 1.0});
                continue;
            }
            if (relaid) {
                rolling.append({cell.previous, QPointF(cell.previousX, 0), 1.0});
                rolling.append({cell.shown, QPointF(cell.shownX, 0), 0.0});
            }
            const RollStep step = rollStep(m_line.progress(i, now), m_lineHeight);
            GlyphsAt& previous = rolling[r++];
            previous.at.setY(step.previousY);
            previous.opacity = step.previousOpacity;
            GlyphsAt& current = rolling[r++];
            current.at.setY(step.currentY);
            current.opacity = step.currentOpacity;
        }
    };
    const QRectF bounds(0, 0, m_positions.last(), m_lineHeight);
    m_stillDirty = false;

    if (software) {
        auto* line = static_cast<LineNode*>(node);
        const bool rolledBefore = !line->rolling->isEmpty();
        place(line->still->glyphs(), line->rolling->glyphs());
        if (relaid)
            line->still->changed(m_color, bounds);
        if (rolledBefore || !line->rolling->isEmpty())
            line->rolling->changed(m_color, paddedSpan(m_rollingCells));
        return line;
    }

    auto* line = static_cast<LineImageNode*>(node);
    place(line->still, line->rolling);
    const qreal dpr = window()->effectiveDevicePixelRatio();
    QImage image(std::max(1, static_cast<int>(std::ceil(bounds.width() * dpr))),
                 std::max(1, static_cast<int>(std::ceil(bounds.height() * dpr))),
                 QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        drawGlyphs(&painter, line->still, m_color, 1.0);
        drawGlyphs(&painter, line->rolling, m_color, 1.0);
    }
    line->image->setTexture(window()->createTextureFromImage(image));
    line->image->setRect(QRectF(bounds.topLeft(), QSizeF(image.size()) / dpr));
    return line;
}

} // namespace velline
