#include "notchlayer/notchfill.h"

#include "notchlayer/notchitems.h"

#include <QPainter>
#include <QPainterPath>
#include <QQuickWindow>
#include <QSGRenderNode>
#include <QSGRendererInterface>

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
}

void NotchFill::setOutline(NotchOutline* outline) {
    if (outline == m_outline)
        return;
    disconnect(m_pathConnection);
    m_outline = outline;
    if (outline)
        m_pathConnection = connect(outline, &NotchOutline::pathChanged, this, [this] { update(); });
    update();
    Q_EMIT outlineChanged();
}

void NotchFill::setColor(const QColor& color) {
    if (color == m_color)
        return;
    m_color = color;
    update();
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
    auto* fill = static_cast<PathNode*>(node);
    if (!fill)
        fill = new PathNode(window());
    // The outline's own coordinates are this item's (both fill the same parent).
    QPainterPath path;
    if (m_outline && !m_outline->pill())
        path = m_outline->path().translated(m_outline->position() - position());
    fill->set(path, m_color);
    return fill;
}

} // namespace velline
