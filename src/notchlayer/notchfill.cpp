#include "notchlayer/notchfill.h"

#include "notchlayer/notchitems.h"

#include <QPainter>
#include <QPainterPath>
#include <QQuickWindow>
#include <QSGImageNode>
#include <QSGRenderNode>
#include <QSGRendererInterface>

#include <cmath>
#include <utility>

namespace velline {

namespace {

// Paints a path with the QPainter of the software scene graph, in item coordinates.
class PathNode final : public QSGRenderNode {
public:
    explicit PathNode(QQuickWindow* window) : m_window(window) {}

    void set(const QPainterPath& path, const QColor& color) {
        m_path = path;
        m_color = color;
        m_bounds = path.boundingRect();
        markDirty(QSGNode::DirtyMaterial);
    }

    void render(const RenderState* state) override {
        if (m_path.isEmpty() || m_color.alpha() == 0 || !m_window)
            return;
        auto* painter = static_cast<QPainter*>(m_window->rendererInterface()->getResource(
            m_window, QSGRendererInterface::PainterResource));
        if (!painter)
            return;
        // The clip goes in before the transform: it is in window coordinates.
        if (const QRegion* clip = state->clipRegion(); clip && !clip->isEmpty())
            painter->setClipRegion(*clip, Qt::ReplaceClip);
        painter->setTransform(matrix()->toTransform());
        painter->setOpacity(inheritedOpacity());
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(Qt::NoPen);
        painter->setBrush(m_color);
        painter->drawPath(m_path);
    }

    StateFlags changedStates() const override { return {}; }
    RenderingFlags flags() const override { return BoundedRectRendering; }
    QRectF rect() const override { return m_bounds; }

private:
    QPointer<QQuickWindow> m_window;
    QPainterPath m_path;
    QColor m_color;
    QRectF m_bounds;
};

} // namespace

NotchFill::NotchFill(QQuickItem* parent) : QQuickItem(parent) {
    setFlag(ItemHasContents);
}

NotchFill::~NotchFill() {
    disconnect(m_pathConnection);
    disconnect(m_frameConnection);
}

void NotchFill::itemChange(ItemChange change, const ItemChangeData& data) {
    if (change == ItemSceneChange) {
        disconnect(m_frameConnection);
        if (data.window)
            m_frameConnection =
                connect(data.window, &QQuickWindow::afterAnimating, this, &NotchFill::followPlace);
        m_drawn.reset();
        m_reshaped = true;
    }
    QQuickItem::itemChange(change, data);
}

NotchFill::Placement NotchFill::placement() const {
    const qreal dpr = window() ? window()->effectiveDevicePixelRatio() : 1.0;
    const QPointF origin = mapToScene(QPointF(0, 0)) * dpr;
    // Sub-pixel parts in 256ths, as the rasteriser resolves them.
    const auto sub = [](qreal v) { return qRound((v - std::floor(v)) * 256) % 256; };
    const QPointF unitX = mapToScene(QPointF(1, 0)) * dpr - origin;
    const QPointF unitY = mapToScene(QPointF(0, 1)) * dpr - origin;
    return {dpr, sub(origin.x()), sub(origin.y()),
            qFuzzyCompare(unitX.x(), dpr) && qFuzzyIsNull(unitX.y()) && qFuzzyIsNull(unitY.x()) &&
                qFuzzyCompare(unitY.y(), dpr)};
}

void NotchFill::reshape() {
    m_reshaped = true;
    update();
}

void NotchFill::followPlace() {
    if (!isVisible())
        return;
    if (m_drawn) {
        // The image is exact to the device pixel; an ancestor that moved by a fraction of a
        // pixel (the path itself unchanged) needs the outline drawn again at its new offset.
        if (placement() != *m_drawn)
            reshape();
    } else if (m_painting && !m_reshaped) {
        // A frame is under way and the outline stood still since the last one: this frame
        // lays it into the image.
        update();
    }
}

void NotchFill::setOutline(NotchOutline* outline) {
    if (outline == m_outline)
        return;
    disconnect(m_pathConnection);
    m_outline = outline;
    if (outline)
        m_pathConnection = connect(outline, &NotchOutline::pathChanged, this, &NotchFill::reshape);
    reshape();
    Q_EMIT outlineChanged();
}

void NotchFill::setColor(const QColor& color) {
    if (color == m_color)
        return;
    m_color = color;
    reshape();
    Q_EMIT colorChanged();
}

bool NotchFill::isSupported() {
    // The software scene graph is chosen as a backend, by name (graphicsApi() keeps naming the
    // accelerated interface that would otherwise be used).
    return QQuickWindow::sceneGraphBackend() == QLatin1String("software");
}

QSGNode* NotchFill::updatePaintNode(QSGNode* node, UpdatePaintNodeData*) {
    if (!window() ||
        window()->rendererInterface()->graphicsApi() != QSGRendererInterface::Software) {
        delete node;
        return nullptr;
    }
    // The outline's own coordinates are this item's (both fill the same parent).
    QPainterPath path;
    if (m_outline && !m_outline->pill())
        path = m_outline->path().translated(m_outline->position() - position());
    const Placement place = placement();
    const QRectF bounds = path.boundingRect();
    const bool reshaped = std::exchange(m_reshaped, false);
    m_drawn.reset();
    m_painting = false;
    if (path.isEmpty() || m_color.alpha() == 0 || bounds.isEmpty()) {
        delete node;
        return nullptr;
    }

    // While the outline moves, it is painted straight into the window in each frame.
    if (reshaped) {
        auto* painted = dynamic_cast<PathNode*>(node);
        if (!painted) {
            delete node;
            painted = new PathNode(window());
        }
        painted->set(path, m_color);
        m_painting = true;
        return painted;
    }

    // Standing, the outline is painted once into an image, on the device pixels it covers, and
    // the scene graph blits that image. A frame that changes a few pixels above the notch then
    // repaints and sends just those pixels; the scene graph repaints and sends the whole of a
    // node that paints itself whenever anything over it changes.
    const qreal dpr = place.dpr;
    // Where the item's origin lands on the device. Under a scaled or turned ancestor the image
    // is laid in item coordinates instead, and the blit filters it.
    const QPointF origin = place.aligned ? mapToScene(QPointF(0, 0)) * dpr : QPointF();
    const QRect pixels =
        (QRectF(bounds.topLeft() * dpr, bounds.size() * dpr).translated(origin)).toAlignedRect();
    QImage image(pixels.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.translate(origin - QPointF(pixels.topLeft()));
        painter.scale(dpr, dpr);
        painter.setPen(Qt::NoPen);
        painter.setBrush(m_color);
        painter.drawPath(path);
    }

    auto* fill = dynamic_cast<QSGImageNode*>(node);
    if (!fill) {
        delete node;
        fill = window()->createImageNode();
        fill->setOwnsTexture(true);
    }
    fill->setTexture(window()->createTextureFromImage(image));
    fill->setSourceRect(QRectF(QPointF(0, 0), QSizeF(image.size())));
    fill->setRect(QRectF((QPointF(pixels.topLeft()) - origin) / dpr, QSizeF(pixels.size()) / dpr));
    fill->setFiltering(place.aligned ? QSGTexture::Nearest : QSGTexture::Linear);
    m_drawn = place;
    return fill;
}

} // namespace velline
