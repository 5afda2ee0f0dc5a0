#include "notchlayer/notchpanel.h"

#include "notchlayer/notchgeometry.h"
#include "notchlayer/x11support.h"

#include <QLoggingCategory>
#include <QPropertyAnimation>
#include <QQmlEngine>
#include <QQuickItem>
#include <QSGRendererInterface>
#include <QScreen>
#include <QTransform>

namespace velline {

Q_DECLARE_LOGGING_CATEGORY(lcNotch)

namespace {

const QUrl kRootView(QStringLiteral("qrc:/qt/qml/Velline/NotchLayer/qml/NotchContentView.qml"));

QRegion regionOf(const QPainterPath& path) {
    if (path.isEmpty())
        return {};
    return QRegion(path.toFillPolygon().toPolygon(), Qt::WindingFill);
}

QRegion toDevicePixels(const QRegion& region, qreal dpr) {
    return dpr == 1 ? region : QTransform::fromScale(dpr, dpr).map(region);
}

// The controller's handle on a panel. Closing hides the window at once but deletes it from the
// event loop, since the request may arrive while the panel is delivering one of its own events.
class PanelHost final : public NotchWindowController {
public:
    PanelHost(NotchPanel* panel, QScreen* screen) : m_panel(panel), m_screen(screen) {}
    ~PanelHost() override {
        if (m_panel) {
            m_panel->close();
            m_panel->deleteLater();
        }
    }
    QScreen* screen() const override { return m_screen; }
    void orderFront() override {
        if (m_panel)
            m_panel->orderFront();
    }
    void fadeIn(double seconds) override {
        if (m_panel)
            m_panel->fadeIn(seconds);
    }
    void fadeOut(double seconds) override {
        if (m_panel)
            m_panel->fadeOut(seconds);
    }

private:
    QPointer<NotchPanel> m_panel;
    QPointer<QScreen> m_screen;
};

} // namespace

NotchPanel::NotchPanel(QQmlEngine* engine, NotchController* controller, const NotchStyle& style,
                       QScreen* screen)
    : QQuickView(engine, nullptr), m_controller(controller) {
    setTitle(QStringLiteral("Velline notch"));
    setFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::Tool |
             Qt::WindowDoesNotAcceptFocus | Qt::X11BypassWindowManagerHint);
    QSurfaceFormat fmt = format();
    fmt.setAlphaBufferSize(8);
    setFormat(fmt);
    setColor(Qt::transparent);
    if (screen) {
        setScreen(screen);
        setGeometry(notchgeometry::panelFrame(screen->geometry(), screen->availableGeometry()));
    }
    setResizeMode(QQuickView::SizeRootObjectToView);

    m_fade = new QPropertyAnimation(this, "opacity", this);

    // The window properties have to be on the window before it is first mapped.
    create();
    x11::prepareDockWindow(winId());
    x11::disableCompositorShadow(winId());
    // Room in the connection for the panel's whole picture several times over, so that no
    // frame's requests wait for the server to read its picture.
    const qreal dpr = devicePixelRatio();
    x11::widenSendBuffer(int(4 * 4 * width() * height() * dpr * dpr));
    m_stacking = new x11::StackingGuard(this);
    m_stacking->setParent(this);
    setNotchShape({});

    // Connected before the view's items are built, so this runs before the outline reports
    // its place for the frame.
    connect(this, &QQuickWindow::afterAnimating, this, [this] { m_inFrame = true; });
    connect(this, &QQuickWindow::afterRendering, this, [this] { m_inFrame = false; });
    // The picture's upload has sent the shape with it; should a frame end without one, the
    // shape goes out now.
    connect(this, &QQuickWindow::frameSwapped, this, [this] {
        if (m_shapeUnsent)
            x11::flush();
        m_shapeUnsent = false;
    });

    connect(x11::CompositorWatcher::instance(), &x11::CompositorWatcher::activeChanged, this,
            &NotchPanel::applyShape);
    if (x11::isAvailable())
        QCoreApplication::instance()->installNativeEventFilter(this);

    // A panel still waiting for deletion must not outlive its controller's view of it.
    connect(controller, &QObject::destroyed, this, [this] { setSource(QUrl()); });

    setInitialProperties({{QStringLiteral("notch"), QVariant::fromValue(controller)},
                          {QStringLiteral("style"), QVariant::fromValue(style)}});
    setSource(kRootView);
    if (status() == QQuickView::Error) {
        const auto errs = errors();
        for (const auto& e : errs)
            qCWarning(lcNotch) << "notch view:" << e.toString();
    }
}

NotchPanel::~NotchPanel() = default;

NotchWindowFactory NotchPanel::factory(QQmlEngine* engine) {
    QPointer<QQmlEngine> guarded(engine);
    return [guarded](NotchController& controller, QScreen* screen,
                     const NotchStyle& style) -> std::unique_ptr<NotchWindowController> {
        if (!guarded)
            return nullptr;
        auto* panel = new NotchPanel(guarded, &controller, style, screen);
        return std::make_unique<PanelHost>(panel, screen);
    };
}

void NotchPanel::preferX11Platform() {
    if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") && !qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");
}

void NotchPanel::selectDefaultGraphicsApi() {
    if (qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND"))
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
}

void NotchPanel::preferPlainImageUploads() {
    if (!qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM"))
        qputenv("QT_XCB_NO_MITSHM", "1");
}

void NotchPanel::preferPromptFrames() {
    if (!qEnvironmentVariableIsSet("QT_QPA_UPDATE_IDLE_TIME"))
        qputenv("QT_QPA_UPDATE_IDLE_TIME", "0");
}

void NotchPanel::setNotchShape(const QPainterPath& shape) {
    if (m_shapeKnown && shape == m_shape)
        return;
    m_shapeKnown = true;
    m_shape = shape;
    applyShape();
}

void NotchPanel::setOverlayArea(const QObject* owner, const QPainterPath& area) {
    const QRegion region = regionOf(area);
    if (region.isEmpty() ? m_overlays.remove(owner) == 0 : m_overlays.value(owner) == region)
        return;
    if (!region.isEmpty())
        m_overlays.insert(owner, region);
    applyShape();
}

void NotchPanel::applyShape() {
    const QRegion input = regionOf(m_shape);
    std::optional<QRegion> bounding;
    if (!x11::CompositorWatcher::instance()->isActive()) {
        // Transparent pixels would show black: only the notch and what stands beside it on
        // purpose may be visible.
        QRegion visible = input;
        for (const QRegion& overlay : std::as_const(m_overlays))
            visible += overlay;
        bounding = visible;
    }
    // The first time through everything is written: an unshaped window takes all input.
    const bool inputChanged = !m_regionsApplied || input != m_input;
    const bool boundingChanged = !m_regionsApplied || bounding != m_bounding;
    m_regionsApplied = true;
    m_input = input;
    m_bounding = bounding;
    const qreal dpr = devicePixelRatio();
    const x11::Send last = m_inFrame ? x11::Send::WithNext : x11::Send::Now;
    m_shapeUnsent = m_shapeUnsent || (m_inFrame && (inputChanged || boundingChanged));
    if (inputChanged)
        x11::setInputRegion(winId(), toDevicePixels(input, dpr),
                            boundingChanged ? x11::Send::WithNext : last);
    if (boundingChanged) {
        const std::optional<QRegion> device =
            bounding ? std::optional(toDevicePixels(*bounding, dpr)) : std::nullopt;
        // What a growing shape uncovers is drawn by the frame under way (see UncoveredArea).
        if (device && m_deviceBounding && isExposed() && m_controller)
            m_uncovered.add(*device - *m_deviceBounding, m_controller->clock()->now());
        else
            m_uncovered.clear();
        m_deviceBounding = device;
        x11::setBoundingRegion(winId(), device, last);
    }
    if (inputChanged || boundingChanged)
        Q_EMIT shapeApplied();
}

bool NotchPanel::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (m_uncovered.isEmpty())
        return false;
    const auto expose = x11::exposeOf(eventType, message, winId());
    if (!expose || !m_controller || !isExposed())
        return false;
    if (!m_uncovered.skip(expose->rect, expose->more, m_controller->clock()->now()))
        return false;
    ++m_skippedExposes;
    return true;
}

void NotchPanel::orderFront() {
    if (!isVisible())
        show();
    raise();
}

void NotchPanel::fadeIn(double seconds) {
    m_fade->stop();
    setOpacity(0);
    orderFront();
    m_fade->setDuration(static_cast<int>(seconds * 1000));
    m_fade->setEasingCurve(NotchAnimation::easeOutCurve());
    m_fade->setStartValue(0.0);
    m_fade->setEndValue(1.0);
    m_fade->start();
}

void NotchPanel::fadeOut(double seconds) {
    m_fade->stop();
    m_fade->setDuration(static_cast<int>(seconds * 1000));
    m_fade->setEasingCurve(NotchAnimation::easeInCurve());
    m_fade->setStartValue(opacity());
    m_fade->setEndValue(0.0);
    m_fade->start();
}

} // namespace velline
