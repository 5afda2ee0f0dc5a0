#pragma once

#include "clock/clock.h"
#include "notchlayer/notchtypes.h"

#include <QEasingCurve>
#include <QObject>
#include <QPointer>
#include <QQmlEngine>
#include <QQuickItem>
#include <QSizeF>
#include <QtQml/qqmlregistration.h>

#include <functional>
#include <memory>

class QQmlComponent;
class QScreen;

namespace velline {

class NotchController;

// The window that hosts the notch, as the controller sees it. Destroying it closes the window.
class NotchWindowController {
public:
    virtual ~NotchWindowController() = default;
    virtual QScreen* screen() const = 0;
    // Shows the window in front of all others, whichever application is active.
    virtual void orderFront() = 0;
    // Opacity 0, ordered front, then opacity 1 over `seconds` with an ease-out curve.
    virtual void fadeIn(double seconds) = 0;
    // Opacity to 0 over `seconds` with an ease-in curve.
    virtual void fadeOut(double seconds) = 0;
};

// Builds the window for a screen; `style` is the controller's style resolved for that screen.
using NotchWindowFactory = std::function<std::unique_ptr<NotchWindowController>(
    NotchController& controller, QScreen* screen, const NotchStyle& style)>;

// Builds one content view. Called exactly once per slot, at construction.
using NotchContentBuilder = std::function<QQuickItem*()>;

// The operations the owner drives the notch with. Each one completes asynchronously: `done`
// runs when the operation returns (at once, for a request that changes nothing), and is dropped
// if `context` is destroyed first. Fire and forget by passing no callback.
class NotchControllable {
public:
    virtual ~NotchControllable() = default;
    virtual void expand(QScreen* screen, QObject* context = nullptr,
                        std::function<void()> done = {}) = 0;
    virtual void compact(QScreen* screen, QObject* context = nullptr,
                         std::function<void()> done = {}) = 0;
    // Completes once the panel has been closed, or at once when already hidden. When a later
    // expand or compact cancels the pending close, the hide completes then.
    virtual void hide(QObject* context = nullptr, std::function<void()> done = {}) = 0;
};

// Controls the notch panel at the top centre of a screen: its state, its timed transitions,
// the notch measurements of its screen and the hover flag. The three content views come from
// the owner and are built once (the compact ones at construction, the expanded one on the first
// expand); the panel is built on the first show and rebuilt whenever the screen configuration
// changes.
class NotchController : public QObject, public NotchControllable {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("NotchController is created by the application")
    Q_PROPERTY(velline::NotchState state READ state NOTIFY stateChanged)
    Q_PROPERTY(bool isExpanded READ isExpanded NOTIFY stateChanged)
    Q_PROPERTY(bool isCompact READ isCompact NOTIFY stateChanged)
    Q_PROPERTY(bool isHidden READ isHidden NOTIFY stateChanged)
    Q_PROPERTY(QSizeF notchSize READ notchSize NOTIFY notchSizeChanged)
    Q_PROPERTY(qreal menubarHeight READ menubarHeight NOTIFY menubarHeightChanged)
    Q_PROPERTY(bool isHovering READ isHovering NOTIFY isHoveringChanged)
    Q_PROPERTY(bool disableCompactLeading READ disableCompactLeading WRITE setDisableCompactLeading
                   NOTIFY disableCompactLeadingChanged)
    Q_PROPERTY(bool disableCompactTrailing READ disableCompactTrailing WRITE
                   setDisableCompactTrailing NOTIFY disableCompactTrailingChanged)
    Q_PROPERTY(int hoverBehavior READ hoverBehaviorValue CONSTANT)
    Q_PROPERTY(velline::NotchStyle style READ style CONSTANT)
    Q_PROPERTY(QString animationNamespace READ animationNamespace WRITE setAnimationNamespace NOTIFY
                   animationNamespaceChanged)
    Q_PROPERTY(QQuickItem* expandedContent READ expandedContent NOTIFY expandedContentChanged)
    Q_PROPERTY(QQuickItem* compactLeadingContent READ compactLeadingContent CONSTANT)
    Q_PROPERTY(QQuickItem* compactTrailingContent READ compactTrailingContent CONSTANT)
    // The look that follows from the state, for the views.
    Q_PROPERTY(qreal topCornerRadius READ topCornerRadius NOTIFY appearanceChanged)
    Q_PROPERTY(qreal bottomCornerRadius READ bottomCornerRadius NOTIFY appearanceChanged)
    Q_PROPERTY(qreal outlineWidth READ outlineWidth NOTIFY appearanceChanged)
    Q_PROPERTY(qreal shadowOpacity READ shadowOpacity NOTIFY appearanceChanged)
    Q_PROPERTY(qreal shadowRadius READ shadowRadius NOTIFY appearanceChanged)
    // The animation of the latest change (state or hover), as duration (ms) and easing curve.
    Q_PROPERTY(int animationDuration READ animationDuration NOTIFY animationChanged)
    Q_PROPERTY(QEasingCurve animationEasing READ animationEasing NOTIFY animationChanged)

public:
    // `engine` builds the panels' views (the content items must come from the same engine);
    // without one, panels come only from setWindowFactory().
    NotchController(NotchHoverBehavior hoverBehavior, const NotchStyle& style,
                    const NotchContentBuilder& expanded, const NotchContentBuilder& compactLeading,
                    const NotchContentBuilder& compactTrailing, QQmlEngine* engine,
                    Clock* clock = Clock::system(), QObject* parent = nullptr);
    // Expanded content only: both compact sides are disabled, so every compact becomes a hide.
    NotchController(NotchHoverBehavior hoverBehavior, const NotchStyle& style,
                    const NotchContentBuilder& expanded, QQmlEngine* engine,
                    Clock* clock = Clock::system(), QObject* parent = nullptr);
    ~NotchController() override;

    // A builder that instantiates `component`; its result must be an Item.
    static NotchContentBuilder fromComponent(QQmlComponent* component);

    void expand(QScreen* screen, QObject* context = nullptr,
                std::function<void()> done = {}) override;
    void compact(QScreen* screen, QObject* context = nullptr,
                 std::function<void()> done = {}) override;
    void hide(QObject* context = nullptr, std::function<void()> done = {}) override;

    // Called by the views' hover handler. Ignored while hidden and when nothing changes.
    Q_INVOKABLE void updateHoverState(bool hovering);
    // Called by the views on a right-click of the drawn notch; announces contextMenuRequested.
    Q_INVOKABLE void requestContextMenu() { Q_EMIT contextMenuRequested(); }

    // Rebuilds the panel on the first screen and brings it to front. Runs (once per burst) on
    // every change of the screen configuration, whatever the state.
    void screenParametersChanged();

    NotchState state() const { return m_state; }
    bool isExpanded() const { return m_state == NotchState::expanded; }
    bool isCompact() const { return m_state == NotchState::compact; }
    bool isHidden() const { return m_state == NotchState::hidden; }
    QSizeF notchSize() const { return m_notchSize; }
    qreal menubarHeight() const { return m_menubarHeight; }
    bool isHovering() const { return m_isHovering; }
    bool disableCompactLeading() const { return m_disableCompactLeading; }
    void setDisableCompactLeading(bool disable);
    bool disableCompactTrailing() const { return m_disableCompactTrailing; }
    void setDisableCompactTrailing(bool disable);
    NotchHoverBehavior hoverBehavior() const { return m_hoverBehavior; }
    int hoverBehaviorValue() const { return m_hoverBehavior.toInt(); }
    NotchStyle style() const { return m_style; }
    QString animationNamespace() const { return m_namespace; }
    void setAnimationNamespace(const QString& ns);
    // Null until the notch first expands: the expanded view is built then, not at start, as
    // many sessions never open it and it holds a good share of the memory of all three.
    QQuickItem* expandedContent() const { return m_expandedContent; }
    QQuickItem* compactLeadingContent() const { return m_compactLeadingContent; }
    QQuickItem* compactTrailingContent() const { return m_compactTrailingContent; }

    qreal topCornerRadius() const;
    qreal bottomCornerRadius() const;
    qreal outlineWidth() const;
    qreal shadowOpacity() const;
    qreal shadowRadius() const;
    NotchAnimation animation() const { return m_animation; }
    int animationDuration() const { return m_animation.durationMs(); }
    QEasingCurve animationEasing() const { return m_animation.easingCurve(); }

    NotchTransitionConfiguration transitionConfiguration() const { return m_transitions; }
    void setTransitionConfiguration(const NotchTransitionConfiguration& config) {
        m_transitions = config;
    }
    // The animations in effect: the configured one, or the default spring.
    NotchAnimation openingAnimation() const;
    NotchAnimation closingAnimation() const;
    NotchAnimation conversionAnimation() const;
    static NotchAnimation hoverAnimation();

    // The current panel, if any.
    NotchWindowController* windowController() const { return m_window.get(); }
    void setWindowFactory(NotchWindowFactory factory) { m_windowFactory = std::move(factory); }
    QQmlEngine* engine() const { return m_engine; }
    Clock* clock() const { return m_clock; }

    static constexpr double kReturnDelay = 0.4;       // expand/compact return after this
    static constexpr double kIntermediateHide = 0.25; // hidden gap of a conversion
    static constexpr double kCloseDelay = 0.25;       // hide → fade-out starts
    static constexpr double kFadeDuration = 0.15;
    static constexpr double kKeepVisibleRetry = 0.1;

Q_SIGNALS:
    void stateChanged();
    void expandedContentChanged();
    void notchSizeChanged();
    void menubarHeightChanged();
    void isHoveringChanged();
    void disableCompactLeadingChanged();
    void disableCompactTrailingChanged();
    void animationNamespaceChanged();
    void appearanceChanged();
    void animationChanged();
    // A hover change asked for a haptic tick. No Linux device gives one; nothing listens by
    // default.
    void hapticFeedbackRequested();
    // The notch was right-clicked (compact or expanded): the owner may show its menu at the
    // pointer.
    void contextMenuRequested();

private:
    class Completion;
    struct CloseTask;

    void buildContents(const NotchContentBuilder& expanded, const NotchContentBuilder& leading,
                       const NotchContentBuilder& trailing);
    QQuickItem* adopt(QQuickItem* item);
    void buildExpandedContent();
    void startScreenObserver();
    void watchScreen(QScreen* screen);
    QScreen* screenOrPrimary(QScreen* screen) const;
    bool panelIsOn(QScreen* screen) const;

    void show(NotchState target, QScreen* screen, Completion done);
    void runHide(Completion done);
    void cancelClosePanelTask();
    void initializeWindow(QScreen* screen, bool orderFront);
    void deinitializeWindow();
    void fadeInWindow();
    void setState(NotchState state, const NotchAnimation& animation);
    void setAnimation(const NotchAnimation& animation);
    void setHovering(bool hovering);

    Clock* m_clock;
    QPointer<QQmlEngine> m_engine;
    NotchWindowFactory m_windowFactory;
    std::unique_ptr<NotchWindowController> m_window;
    const NotchStyle m_style;
    const NotchHoverBehavior m_hoverBehavior;
    QString m_namespace;
    NotchTransitionConfiguration m_transitions;
    NotchContentBuilder m_expandedBuilder;
    QPointer<QQuickItem> m_expandedContent;
    QPointer<QQuickItem> m_compactLeadingContent;
    QPointer<QQuickItem> m_compactTrailingContent;
    bool m_disableCompactLeading = false;
    bool m_disableCompactTrailing = false;
    NotchState m_state = NotchState::hidden;
    QSizeF m_notchSize{0, 0};
    qreal m_menubarHeight = 0;
    bool m_isHovering = false;
    std::shared_ptr<CloseTask> m_closePanelTask;
    NotchAnimation m_animation = hoverAnimation();
    ScheduledTask m_screenChange;
};

} // namespace velline
