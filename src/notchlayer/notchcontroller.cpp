#include "notchlayer/notchcontroller.h"

#include "notchlayer/notchgeometry.h"
#include "notchlayer/notchpanel.h"

#include <QGuiApplication>
#include <QLoggingCategory>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QScreen>

#include <utility>

namespace velline {

Q_LOGGING_CATEGORY(lcNotch, "velline.notchlayer")

// A caller's continuation: runs at most once, and not at all once its context is gone.
class NotchController::Completion {
public:
    Completion() = default;
    Completion(QObject* context, std::function<void()> fn)
        : m_context(context), m_hasContext(context != nullptr),
          m_fn(fn ? std::make_shared<std::function<void()>>(std::move(fn)) : nullptr) {}

    void operator()() const {
        if (!m_fn || !*m_fn)
            return;
        auto fn = std::move(*m_fn);
        *m_fn = nullptr;
        if (!m_hasContext || m_context)
            fn();
    }

private:
    QPointer<QObject> m_context;
    bool m_hasContext = false;
    std::shared_ptr<std::function<void()>> m_fn;
};

// The pending close of the panel after a hide: waits, fades out, closes, then completes.
struct NotchController::CloseTask {
    bool cancelled = false;
    ScheduledTask step;
    Completion done;
};

NotchController::NotchController(NotchHoverBehavior hoverBehavior, const NotchStyle& style,
                                 const NotchContentBuilder& expanded,
                                 const NotchContentBuilder& compactLeading,
                                 const NotchContentBuilder& compactTrailing, QQmlEngine* engine,
                                 Clock* clock, QObject* parent)
    : QObject(parent), m_clock(clock ? clock : Clock::system()), m_engine(engine), m_style(style),
      m_hoverBehavior(hoverBehavior) {
    if (engine)
        m_windowFactory = NotchPanel::factory(engine);
    buildContents(expanded, compactLeading, compactTrailing);
    startScreenObserver();
}

NotchController::NotchController(NotchHoverBehavior hoverBehavior, const NotchStyle& style,
                                 const NotchContentBuilder& expanded, QQmlEngine* engine,
                                 Clock* clock, QObject* parent)
    : NotchController(hoverBehavior, style, expanded, {}, {}, engine, clock, parent) {
    setDisableCompactLeading(true);
    setDisableCompactTrailing(true);
}

NotchController::~NotchController() {
    if (m_closePanelTask) {
        m_closePanelTask->cancelled = true;
        m_closePanelTask->step.cancel();
    }
    m_screenChange.cancel();
    m_window.reset();
}

NotchContentBuilder NotchController::fromComponent(QQmlComponent* component) {
    return [component = QPointer<QQmlComponent>(component)]() -> QQuickItem* {
        if (!component)
            return nullptr;
        QObject* object = component->create();
        if (!object) {
            qCWarning(lcNotch) << "notch content failed to build:" << component->errorString();
            return nullptr;
        }
        auto* item = qobject_cast<QQuickItem*>(object);
        if (!item) {
            qCWarning(lcNotch) << "notch content is not an Item:" << object;
            delete object;
        }
        return item;
    };
}

void NotchController::buildContents(const NotchContentBuilder& expanded,
                                    const NotchContentBuilder& leading,
                                    const NotchContentBuilder& trailing) {
    m_expandedBuilder = expanded;
    m_compactLeadingContent = adopt(leading ? leading() : nullptr);
    m_compactTrailingContent = adopt(trailing ? trailing() : nullptr);
}

void NotchController::buildExpandedContent() {
    if (m_expandedContent || !m_expandedBuilder)
        return;
    // Built once: a builder that fails is not asked again on every hover.
    const NotchContentBuilder builder = std::exchange(m_expandedBuilder, {});
    m_expandedContent = adopt(builder());
    if (m_expandedContent)
        Q_EMIT expandedContentChanged();
}

QQuickItem* NotchController::adopt(QQuickItem* item) {
    // The contents live as long as the controller; panels only borrow them.
    if (item) {
        item->setParent(this);
        QQmlEngine::setObjectOwnership(item, QQmlEngine::CppOwnership);
    }
    return item;
}

// ---- screen observer ----

void NotchController::startScreenObserver() {
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!app)
        return;
    connect(app, &QGuiApplication::screenAdded, this, [this](QScreen* s) {
        watchScreen(s);
        screenParametersChanged();
    });
    connect(app, &QGuiApplication::screenRemoved, this, [this] { screenParametersChanged(); });
    connect(app, &QGuiApplication::primaryScreenChanged, this,
            [this] { screenParametersChanged(); });
    const auto screens = QGuiApplication::screens();
    for (QScreen* s : screens)
        watchScreen(s);
}

void NotchController::watchScreen(QScreen* screen) {
    connect(screen, &QScreen::geometryChanged, this, [this] { screenParametersChanged(); });
    connect(screen, &QScreen::availableGeometryChanged, this,
            [this] { screenParametersChanged(); });
}

void NotchController::screenParametersChanged() {
    // One display change arrives as several signals (screen added, primary changed, geometry
    // changed...); rebuild once, after the burst, when the screen list has settled.
    if (m_screenChange.isPending())
        return;
    m_screenChange = m_clock->schedule(0, this, [this] {
        QScreen* first = QGuiApplication::primaryScreen();
        if (!first)
            return; // no screen at all: nothing to show the panel on
        initializeWindow(first, true);
    });
}

// ---- operations ----

QScreen* NotchController::screenOrPrimary(QScreen* screen) const {
    return screen ? screen : QGuiApplication::primaryScreen();
}

bool NotchController::panelIsOn(QScreen* screen) const {
    return m_window && m_window->screen() == screen;
}

void NotchController::expand(QScreen* screen, QObject* context, std::function<void()> done) {
    // Before the state changes, so the panel sizes itself to the view it unfolds.
    buildExpandedContent();
    show(NotchState::expanded, screen, Completion(context, std::move(done)));
}

void NotchController::compact(QScreen* screen, QObject* context, std::function<void()> done) {
    Completion completion(context, std::move(done));
    if (m_state == NotchState::compact) {
        completion();
        return;
    }
    QScreen* target = screenOrPrimary(screen);
    if ((target && notchgeometry::resolvedStyle(m_style, target).isFloating()) ||
        (m_disableCompactLeading && m_disableCompactTrailing)) {
        // The floating pill has no compact form, nor has a notch without compact content.
        runHide(completion);
        return;
    }
    show(NotchState::compact, target, completion);
}

void NotchController::show(NotchState target, QScreen* screen, Completion done) {
    if (m_state == target) {
        done();
        return;
    }
    screen = screenOrPrimary(screen);
    if (!screen) {
        done();
        return;
    }
    cancelClosePanelTask();
    const bool skip = m_transitions.skipIntermediateHides;
    if (m_state != NotchState::hidden && panelIsOn(screen)) {
        if (skip) {
            setState(target, conversionAnimation());
        } else {
            setState(NotchState::hidden, closingAnimation());
            // The conversion is not cancellable. Expanding always completes; compacting only
            // when nothing else has shown the notch in the meantime.
            m_clock->schedule(kIntermediateHide, this, [this, target] {
                if (target == NotchState::compact && m_state != NotchState::hidden)
                    return;
                setState(target, conversionAnimation());
            });
        }
    } else {
        initializeWindow(screen, false);
        setState(target, openingAnimation());
        fadeInWindow();
    }
    m_clock->schedule(kReturnDelay, this, [done] { done(); });
}

void NotchController::hide(QObject* context, std::function<void()> done) {
    runHide(Completion(context, std::move(done)));
}

void NotchController::runHide(Completion done) {
    if (m_state == NotchState::hidden) {
        done();
        return;
    }
    if (m_hoverBehavior.testFlag(NotchHoverOption::keepVisible) && m_isHovering) {
        // Wait for the pointer to leave; the retry acts on whatever the state is by then.
        m_clock->schedule(kKeepVisibleRetry, this, [this, done] { runHide(done); });
        return;
    }
    setState(NotchState::hidden, closingAnimation());
    setHovering(false);
    cancelClosePanelTask();

    auto task = std::make_shared<CloseTask>();
    task->done = done;
    m_closePanelTask = task;
    task->step = m_clock->schedule(kCloseDelay, this, [this, task] {
        if (task->cancelled)
            return;
        if (m_window)
            m_window->fadeOut(kFadeDuration);
        const double fade = m_window ? kFadeDuration : 0;
        task->step = m_clock->schedule(fade, this, [this, task] {
            if (task->cancelled)
                return;
            deinitializeWindow();
            if (m_closePanelTask == task)
                m_closePanelTask.reset();
            task->done();
        });
    });
}

void NotchController::cancelClosePanelTask() {
    if (!m_closePanelTask)
        return;
    auto task = std::move(m_closePanelTask);
    m_closePanelTask.reset();
    task->cancelled = true;
    task->step.cancel();
    // The hide that was waiting for this close returns now (the panel stays, something else is
    // being shown), from the event loop so its caller never runs inside this request.
    m_clock->schedule(0, this, [task] { task->done(); });
}

void NotchController::updateHoverState(bool hovering) {
    if (m_state == NotchState::hidden || m_isHovering == hovering)
        return;
    setAnimation(hoverAnimation());
    setHovering(hovering);
    if (m_hoverBehavior.testFlag(NotchHoverOption::hapticFeedback))
        Q_EMIT hapticFeedbackRequested();
}

// ---- panel ----

void NotchController::initializeWindow(QScreen* screen, bool orderFront) {
    deinitializeWindow();
    const QSizeF size = notchgeometry::notchFrame(screen).size();
    if (size != m_notchSize) {
        m_notchSize = size;
        Q_EMIT notchSizeChanged();
        Q_EMIT appearanceChanged();
    }
    const qreal menubar = notchgeometry::menubarHeight(screen);
    if (menubar != m_menubarHeight) {
        m_menubarHeight = menubar;
        Q_EMIT menubarHeightChanged();
    }
    if (!m_windowFactory)
        return;
    m_window = m_windowFactory(*this, screen, notchgeometry::resolvedStyle(m_style, screen));
    if (m_window && orderFront)
        m_window->orderFront();
}

void NotchController::deinitializeWindow() {
    m_window.reset();
}

void NotchController::fadeInWindow() {
    if (m_window)
        m_window->fadeIn(kFadeDuration);
}

// ---- state ----

void NotchController::setAnimation(const NotchAnimation& animation) {
    if (animation == m_animation)
        return;
    m_animation = animation;
    Q_EMIT animationChanged();
}

void NotchController::setState(NotchState state, const NotchAnimation& animation) {
    // The animation goes first, so views pick it up for the changes the new state causes.
    setAnimation(animation);
    if (state == m_state)
        return;
    m_state = state;
    Q_EMIT stateChanged();
    Q_EMIT appearanceChanged();
}

void NotchController::setHovering(bool hovering) {
    if (hovering == m_isHovering)
        return;
    m_isHovering = hovering;
    Q_EMIT isHoveringChanged();
    Q_EMIT appearanceChanged();
}

void NotchController::setDisableCompactLeading(bool disable) {
    if (disable == m_disableCompactLeading)
        return;
    m_disableCompactLeading = disable;
    Q_EMIT disableCompactLeadingChanged();
}

void NotchController::setDisableCompactTrailing(bool disable) {
    if (disable == m_disableCompactTrailing)
        return;
    m_disableCompactTrailing = disable;
    Q_EMIT disableCompactTrailingChanged();
}

void NotchController::setAnimationNamespace(const QString& ns) {
    // Set once, by the first view that shows.
    if (!m_namespace.isEmpty() || ns.isEmpty())
        return;
    m_namespace = ns;
    Q_EMIT animationNamespaceChanged();
}

qreal NotchController::topCornerRadius() const {
    return notchgeometry::cornerRadii(m_state, m_style).top;
}

qreal NotchController::bottomCornerRadius() const {
    return notchgeometry::cornerRadii(m_state, m_style).bottom;
}

qreal NotchController::outlineWidth() const {
    return notchgeometry::outlineWidth(m_state, m_style, m_notchSize.width());
}

qreal NotchController::shadowOpacity() const {
    return notchgeometry::shadow(m_state, m_isHovering, m_hoverBehavior).opacity;
}

qreal NotchController::shadowRadius() const {
    return notchgeometry::shadow(m_state, m_isHovering, m_hoverBehavior).radius;
}

NotchAnimation NotchController::openingAnimation() const {
    // The constructed style decides, so `automatic` opens with 0.85 even where it resolves to
    // a notch.
    return m_transitions.openingAnimation.value_or(
        NotchAnimation::spring(0.4, m_style.isNotch() ? 0.7 : 0.85));
}

NotchAnimation NotchController::closingAnimation() const {
    return m_transitions.closingAnimation.value_or(NotchAnimation::spring(0.4, 1.0));
}

NotchAnimation NotchController::conversionAnimation() const {
    return m_transitions.conversionAnimation.value_or(NotchAnimation::spring(0.4, 0.85));
}

NotchAnimation NotchController::hoverAnimation() {
    return NotchAnimation::spring(0.4, 0.85);
}

} // namespace velline
