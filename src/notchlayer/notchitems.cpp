#include "notchlayer/notchitems.h"

#include "notchlayer/blur.h"

#include "notchlayer/notchgeometry.h"
#include "notchlayer/notchpanel.h"
#include "notchlayer/x11support.h"

#include <QPainter>
#include <QQuickWindow>

#include <algorithm>
#include <array>
#include <cmath>

namespace velline {

// ---- NotchOutline ----

NotchOutline::NotchOutline(QQuickItem* parent) : QQuickItem(parent) {
    rebuild();
}

NotchOutline::~NotchOutline() {
    disconnect(m_frameConnection);
}

void NotchOutline::setTopCornerRadius(qreal r) {
    if (r == m_top)
        return;
    m_top = r;
    Q_EMIT topCornerRadiusChanged();
    rebuild();
}

void NotchOutline::setBottomCornerRadius(qreal r) {
    if (r == m_bottom)
        return;
    m_bottom = r;
    Q_EMIT bottomCornerRadiusChanged();
    rebuild();
}

void NotchOutline::setPill(bool pill) {
    if (pill == m_pill)
        return;
    m_pill = pill;
    Q_EMIT pillChanged();
    rebuild();
}

void NotchOutline::setCornerRadius(qreal r) {
    if (r == m_corner)
        return;
    m_corner = r;
    Q_EMIT cornerRadiusChanged();
    rebuild();
}

void NotchOutline::setHorizontalInset(qreal inset) {
    if (inset == m_inset)
        return;
    m_inset = inset;
    Q_EMIT horizontalInsetChanged();
    rebuild();
}

void NotchOutline::geometryChange(const QRectF& newGeometry, const QRectF& oldGeometry) {
    QQuickItem::geometryChange(newGeometry, oldGeometry);
    if (newGeometry.size() != oldGeometry.size())
        rebuild();
    else if (m_window && m_window->isExposed())
        m_window->update(); // the frame's check sees the new place
    else
        report();
}

void NotchOutline::itemChange(ItemChange change, const ItemChangeData& value) {
    QQuickItem::itemChange(change, value);
    if (change == ItemSceneChange) {
        disconnect(m_frameConnection);
        m_window = value.window;
        // Moves of any ancestor show up as a new frame; check the outline's place then.
        if (m_window) {
            m_frameConnection =
                connect(m_window, &QQuickWindow::afterAnimating, this, &NotchOutline::report);
        }
        reportChanged();
    } else if (change == ItemVisibleHasChanged) {
        reportChanged();
    }
}

QRectF NotchOutline::outlineRect() const {
    return QRectF(m_inset, 0, std::max<qreal>(0, width() - 2 * m_inset), height());
}

void NotchOutline::rebuild() {
    const QRectF rect = outlineRect();
    m_outline.clear();
    m_svg.clear();
    m_svgStale = false;
    if (rect.isEmpty()) {
        m_path = QPainterPath();
        m_contentRect = QRectF();
    } else if (m_pill) {
        const qreal radius =
            std::clamp<qreal>(m_corner, 0, std::min(rect.width(), rect.height()) / 2);
        m_path = QPainterPath();
        m_path.addRoundedRect(rect, radius, radius);
        // The corners of the inner rectangle sit on the circle's diagonal.
        const qreal cut = radius * (1 - M_SQRT1_2);
        m_contentRect = rect.adjusted(cut, cut, -cut, -cut);
    } else {
        m_outline = notchgeometry::notchOutline(rect, m_top, m_bottom);
        m_path = notchgeometry::toPainterPath(m_outline);
        m_svgStale = true;
        m_contentRect = notchgeometry::contentRect(rect, m_top, m_bottom);
    }
    Q_EMIT pathChanged();
    reportSoon();
}

QString NotchOutline::svgPath() const {
    if (m_svgStale) {
        m_svg = notchgeometry::toSvgPath(m_outline);
        m_svgStale = false;
    }
    return m_svg;
}

// On screen, the panel hears of a change once, after the animations of the frame have moved
// everything they move (the width, the place and the radii may all change in one frame), and
// before that frame is drawn. Off screen no frame may come, so it hears at once.
void NotchOutline::reportSoon() {
    if (m_window && m_window->isExposed()) {
        m_reported = false;
        m_window->update();
    } else {
        reportChanged();
    }
}

void NotchOutline::reportChanged() {
    m_reported = false;
    report();
}

void NotchOutline::report() {
    auto* panel = qobject_cast<NotchPanel*>(window());
    if (!panel)
        return;
    const std::optional<QPointF> at = isVisible() && !m_path.isEmpty()
                                          ? std::optional<QPointF>(mapToScene(QPointF(0, 0)))
                                          : std::nullopt;
    if (m_reported && at == m_reportedAt)
        return;
    m_reported = true;
    m_reportedAt = at;
    panel->setNotchShape(at ? m_path.translated(*at) : QPainterPath());
}

// ---- NotchOverlayArea ----

NotchOverlayArea::NotchOverlayArea(QQuickItem* parent) : QQuickItem(parent) {}

NotchOverlayArea::~NotchOverlayArea() {
    disconnect(m_frameConnection);
    withdraw();
}

void NotchOverlayArea::setRadius(qreal r) {
    if (r == m_radius)
        return;
    m_radius = r;
    Q_EMIT radiusChanged();
    report();
}

void NotchOverlayArea::geometryChange(const QRectF& newGeometry, const QRectF& oldGeometry) {
    QQuickItem::geometryChange(newGeometry, oldGeometry);
    report();
}

void NotchOverlayArea::itemChange(ItemChange change, const ItemChangeData& value) {
    QQuickItem::itemChange(change, value);
    if (change == ItemSceneChange) {
        disconnect(m_frameConnection);
        withdraw();
        m_window = value.window;
        if (m_window) {
            m_frameConnection =
                connect(m_window, &QQuickWindow::afterAnimating, this, &NotchOverlayArea::report);
        }
        report();
    } else if (change == ItemVisibleHasChanged) {
        report();
    }
}

void NotchOverlayArea::report() {
    auto* panel = qobject_cast<NotchPanel*>(m_window.data());
    if (!panel)
        return;
    if (!isVisible() || width() <= 0 || height() <= 0) {
        panel->setOverlayArea(this, {});
        return;
    }
    QPainterPath path;
    const qreal r = std::clamp<qreal>(m_radius, 0, std::min(width(), height()) / 2);
    path.addRoundedRect(QRectF(0, 0, width(), height()), r, r);
    panel->setOverlayArea(this, path.translated(mapToScene(QPointF(0, 0))));
}

void NotchOverlayArea::withdraw() {
    if (auto* panel = qobject_cast<NotchPanel*>(m_window.data()))
        panel->setOverlayArea(this, {});
}

// ---- ShownPaintedItem ----

QSGNode* ShownPaintedItem::updatePaintNode(QSGNode* node, UpdatePaintNodeData* data) {
    if (!isVisible()) {
        m_pending = true;
        return node;
    }
    m_pending = false;
    return QQuickPaintedItem::updatePaintNode(node, data);
}

void ShownPaintedItem::itemChange(ItemChange change, const ItemChangeData& value) {
    QQuickPaintedItem::itemChange(change, value);
    if (change == ItemVisibleHasChanged && value.boolValue && m_pending)
        update();
}

// ---- NotchGlow ----

NotchGlow::NotchGlow(QQuickItem* parent) : ShownPaintedItem(parent) {
    setAntialiasing(true);
    connect(x11::CompositorWatcher::instance(), &x11::CompositorWatcher::activeChanged, this,
            &NotchGlow::compositedChanged);
}

bool NotchGlow::isComposited() const {
    return x11::CompositorWatcher::instance()->isActive();
}

void NotchGlow::setSource(NotchOutline* source) {
    if (source == m_source)
        return;
    if (m_source)
        disconnect(m_source, nullptr, this, nullptr);
    m_source = source;
    if (m_source)
        connect(m_source, &NotchOutline::pathChanged, this, &NotchGlow::invalidate);
    Q_EMIT sourceChanged();
    invalidate();
}

void NotchGlow::setRadius(qreal r) {
    r = std::isfinite(r) ? std::max<qreal>(0, r) : 0;
    if (r == m_radius)
        return;
    m_radius = r;
    Q_EMIT radiusChanged();
    invalidate();
}

void NotchGlow::setColor(const QColor& c) {
    if (c == m_color)
        return;
    m_color = c;
    Q_EMIT colorChanged();
    invalidate();
}

void NotchGlow::invalidate() {
    m_dirty = true;
    update();
}

QImage NotchGlow::blurredSilhouette(const QPainterPath& path, qreal radius, qreal scale,
                                    const QColor& color) {
    const qreal margin = std::ceil(radius * 1.5);
    const QRectF bounds = path.boundingRect().adjusted(-margin, -margin, margin, margin);
    const QSize size(std::max(1, int(std::ceil(bounds.width() * scale))),
                     std::max(1, int(std::ceil(bounds.height() * scale))));
    QImage alpha(size, QImage::Format_Alpha8);
    alpha.fill(0);
    {
        QPainter p(&alpha);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(scale, scale);
        p.translate(-bounds.topLeft());
        p.fillPath(path, Qt::black);
    }
    if (radius > 0) {
        blurAlpha(alpha, radius / 2 * scale);
    }
    QImage out(size, QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::transparent);
    QPainter p(&out);
    p.drawImage(0, 0, alpha);
    p.setCompositionMode(QPainter::CompositionMode_SourceIn);
    p.fillRect(out.rect(), color);
    return out;
}

void NotchGlow::paint(QPainter* painter) {
    if (!m_source || m_source->path().isEmpty())
        return;
    if (m_dirty) {
        // Large blurs lose nothing at half resolution and cost a quarter.
        const qreal scale = m_radius >= 6 ? 0.5 : 1.0;
        m_cache = blurredSilhouette(m_source->path(), m_radius, scale, m_color);
        m_dirty = false;
    }
    // The image covers the outline's item plus the blur margin, and this item is placed so.
    const qreal margin = std::ceil(m_radius * 1.5);
    const QRectF bounds =
        m_source->path().boundingRect().adjusted(-margin, -margin, margin, margin);
    const QPointF offset = mapFromItem(m_source, bounds.topLeft());
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    painter->drawImage(QRectF(offset, bounds.size()), m_cache);
}

// ---- NotchEnvironment ----

NotchEnvironment* NotchEnvironment::qmlAttachedProperties(QObject* object) {
    return new NotchEnvironment(object);
}

void NotchEnvironment::set(Section section, const NotchStyle& style) {
    if (section == m_section && style == m_style)
        return;
    m_section = section;
    m_style = style;
    Q_EMIT changed();
}

// ---- NotchContentSlot ----

NotchContentSlot::NotchContentSlot(QQuickItem* parent) : QQuickItem(parent) {}

NotchContentSlot::~NotchContentSlot() {
    release();
}

void NotchContentSlot::setContent(QQuickItem* content) {
    if (content == m_content)
        return;
    release();
    m_content = content;
    m_followsImplicitSize = false;
    if (m_content) {
        m_givenSize = m_content->size();
        m_content->setParentItem(this);
        m_connections = {
            connect(m_content, &QQuickItem::implicitWidthChanged, this,
                    &NotchContentSlot::updateImplicitSize),
            connect(m_content, &QQuickItem::implicitHeightChanged, this,
                    &NotchContentSlot::updateImplicitSize),
        };
        publishEnvironment();
    }
    updateImplicitSize();
    layoutContent();
    Q_EMIT contentChanged();
}

void NotchContentSlot::release() {
    for (const auto& c : std::as_const(m_connections))
        disconnect(c);
    m_connections.clear();
    // Hand the item back only if no newer slot has taken it meanwhile.
    if (m_content && m_content->parentItem() == this)
        m_content->setParentItem(nullptr);
    m_content = nullptr;
}

void NotchContentSlot::setSection(NotchEnvironment::Section section) {
    if (section == m_section)
        return;
    m_section = section;
    Q_EMIT sectionChanged();
    publishEnvironment();
}

void NotchContentSlot::setStyle(const NotchStyle& style) {
    if (style == m_style)
        return;
    m_style = style;
    Q_EMIT styleChanged();
    publishEnvironment();
}

void NotchContentSlot::publishEnvironment() {
    if (!m_content)
        return;
    auto* env = qobject_cast<NotchEnvironment*>(
        qmlAttachedPropertiesObject<NotchEnvironment>(m_content, true));
    if (env)
        env->set(m_section, m_style);
}

void NotchContentSlot::updateImplicitSize() {
    if (!m_content) {
        setImplicitSize(0, 0);
        return;
    }
    // Content that states an implicit size is followed by it, down to nothing (a view that
    // empties itself must not keep the room it had). Content that never states one is taken at
    // the size it came with: the slot sizes it afterwards, so its own size says nothing more.
    const QSizeF implicit(m_content->implicitWidth(), m_content->implicitHeight());
    if (!implicit.isNull())
        m_followsImplicitSize = true;
    const QSizeF size = m_followsImplicitSize ? implicit : m_givenSize;
    setImplicitSize(size.width(), size.height());
}

void NotchContentSlot::geometryChange(const QRectF& newGeometry, const QRectF& oldGeometry) {
    QQuickItem::geometryChange(newGeometry, oldGeometry);
    layoutContent();
}

void NotchContentSlot::layoutContent() {
    if (!m_content || m_content->parentItem() != this)
        return;
    m_content->setPosition(QPointF(0, 0));
    m_content->setSize(size());
}

} // namespace velline
