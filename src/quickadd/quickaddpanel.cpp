#include "quickadd/quickaddpanel.h"

#include "notchlayer/x11support.h"
#include "quickadd/quickaddcontroller.h"

#include <QLoggingCategory>
#include <QResizeEvent>
#include <QTransform>

namespace velline {

namespace {

Q_LOGGING_CATEGORY(lcQuickAdd, "velline.quickadd")

const QUrl kRootView(QStringLiteral("qrc:/qt/qml/Velline/QuickAdd/qml/QuickAddView.qml"));

} // namespace

QuickAddPanel::QuickAddPanel(QQmlEngine* engine, QuickAddController* controller)
    : QQuickView(engine, nullptr) {
    setTitle(QStringLiteral("Add Stock"));
    setFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::Tool);
    QSurfaceFormat fmt = format();
    fmt.setAlphaBufferSize(8);
    setFormat(fmt);
    setColor(Qt::transparent);
    setResizeMode(QQuickView::SizeRootObjectToView);

    connect(x11::CompositorWatcher::instance(), &x11::CompositorWatcher::activeChanged, this,
            &QuickAddPanel::applyShape);
    connect(this, &QWindow::activeChanged, this, [this] {
        if (isActive()) {
            m_hadFocus = true;
        } else if (m_hadFocus && isVisible()) {
            m_hadFocus = false;
            Q_EMIT focusLost();
        }
    });

    setInitialProperties({{QStringLiteral("controller"), QVariant::fromValue(controller)}});
    setSource(kRootView);
    if (status() == QQuickView::Error) {
        const auto errs = errors();
        for (const auto& e : errs)
            qCWarning(lcQuickAdd) << "quick-add view:" << e.toString();
    }
}

QuickAddPanel::~QuickAddPanel() = default;

QPainterPath QuickAddPanel::cardPath(const QSizeF& size) {
    QPainterPath path;
    const QRectF card = QRectF(QPointF(0, 0), size)
                            .adjusted(kShadowMargin, kShadowMargin, -kShadowMargin, -kShadowMargin);
    if (card.isEmpty())
        return path;
    path.addRoundedRect(card, kCornerRadius, kCornerRadius);
    return path;
}

void QuickAddPanel::present() {
    m_hadFocus = false;
    if (!isVisible())
        show();
    raise();
    requestActivate();
}

void QuickAddPanel::resizeEvent(QResizeEvent* event) {
    QQuickView::resizeEvent(event);
    applyShape();
}

void QuickAddPanel::exposeEvent(QExposeEvent* event) {
    QQuickView::exposeEvent(event);
    if (!m_shapeApplied)
        applyShape();
}

void QuickAddPanel::applyShape() {
    if (!handle())
        return;
    std::optional<QRegion> bounding;
    if (!x11::CompositorWatcher::instance()->isActive()) {
        const QPainterPath card = cardPath(size());
        bounding = QRegion(card.toFillPolygon().toPolygon(), Qt::WindingFill);
    }
    if (m_shapeApplied && bounding == m_bounding)
        return;
    m_shapeApplied = true;
    m_bounding = bounding;
    const qreal dpr = devicePixelRatio();
    std::optional<QRegion> pixels;
    if (bounding)
        pixels = dpr == 1 ? *bounding : QTransform::fromScale(dpr, dpr).map(*bounding);
    x11::setBoundingRegion(winId(), pixels);
}

} // namespace velline
