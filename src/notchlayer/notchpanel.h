#pragma once

#include "notchlayer/notchcontroller.h"
#include "notchlayer/uncoveredarea.h"
#include "notchlayer/x11support.h"

#include <QAbstractNativeEventFilter>
#include <QHash>
#include <QPainterPath>
#include <QPointer>
#include <QQuickView>
#include <QRegion>

#include <optional>

class QPropertyAnimation;

namespace velline {

// The window the notch is drawn in: frameless, translucent, never focused, out of the task bar
// and pager, on every workspace. It covers the top half of its screen (below a top panel's
// strip), half as wide and centred; everything outside the drawn notch lets the pointer through
// to the windows below, and without a compositor only the notch itself is visible (a shadow
// needs blending, and shown without it would be a solid black rim).
//
// Window managers are not trusted to keep it on top: a dock is stacked among the other docks
// (a click on a panel puts the panel above it) and a tiling manager tiles it like any window,
// with a title bar. So the window bypasses the manager (override-redirect: no decoration, no
// tiling, exactly where it is put) and raises itself again whenever a managed window covers it.
// It still carries the dock's properties for compositors and pagers that read them, and asks
// compositors for no shadow of their own (the notch draws its own).
class NotchPanel : public QQuickView, public QAbstractNativeEventFilter {
    Q_OBJECT
public:
    NotchPanel(QQmlEngine* engine, NotchController* controller, const NotchStyle& style,
               QScreen* screen);
    ~NotchPanel() override;

    // The factory NotchController uses by default.
    static NotchWindowFactory factory(QQmlEngine* engine);
    // Under a Wayland session (with XWayland available) switch Qt to X11: Wayland clients can
    // neither place themselves nor stay above other windows. Call before the application object
    // is created.
    static void preferX11Platform();
    // Software scene graph (cheap on memory, repaints only what changes), unless the user
    // picked a backend through QT_QUICK_BACKEND. Call before the first window is created.
    static void selectDefaultGraphicsApi();
    // Frames go to the X server as plain image requests rather than through shared memory
    // (QT_XCB_NO_MITSHM). The notch repaints a few hundred pixels at a
    // time, so the copy costs nothing, while every shared-memory upload wakes the program twice
    // more (the server's completion event, read on Qt's event thread and handed to the main
    // thread). Call before the application object is created.
    static void preferPlainImageUploads();
    // A requested frame is drawn on the next pass of the event loop (QT_QPA_UPDATE_IDLE_TIME=0)
    // instead of after Qt's idle time of up to 5 ms, which it waits out on a timer of its own:
    // one more wake-up for every frame of an animation. The notch's motions already tick on
    // timers of their own, and their frames need no idle time to gather events. Call before
    // the application object is created; a value set in the environment stays.
    static void preferPromptFrames();

    // The drawn notch in window coordinates (reported by the view's outline).
    void setNotchShape(const QPainterPath& shape);
    // An area that stays visible beside the notch (`owner`'s, in window coordinates); an empty
    // path withdraws it.
    void setOverlayArea(const QObject* owner, const QPainterPath& area);
    // Where the pointer reaches the panel, in window coordinates: the notch.
    QRegion inputRegion() const { return m_input; }
    // The visible part of the panel when no compositor runs (the notch itself, no shadow, and
    // the overlay areas); nullopt with a compositor.
    std::optional<QRegion> boundingRegion() const { return m_bounding; }

    // Times the panel raised itself above a window that covered it.
    int stackingRaises() const { return m_stacking ? m_stacking->raises() : 0; }

    // Expose events skipped because the frame that uncovered their pixels drew them already.
    int skippedExposes() const { return m_skippedExposes; }
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

    void orderFront();
    void fadeIn(double seconds);
    void fadeOut(double seconds);

Q_SIGNALS:
    void shapeApplied();

private:
    void applyShape();

    QPainterPath m_shape;
    QHash<const QObject*, QRegion> m_overlays;
    QRegion m_input;
    std::optional<QRegion> m_bounding;
    std::optional<QRegion> m_deviceBounding; // as last sent to the X server
    bool m_shapeKnown = false;
    bool m_regionsApplied = false;
    // Between the frame's animations and its drawing: a new shape goes out with the frame's
    // picture, in the same write to the X server.
    bool m_inFrame = false;
    bool m_shapeUnsent = false;
    QPropertyAnimation* m_fade = nullptr;
    QPointer<NotchController> m_controller; // its clock dates the uncovered area
    x11::StackingGuard* m_stacking = nullptr;
    UncoveredArea m_uncovered;
    int m_skippedExposes = 0;
};

} // namespace velline
