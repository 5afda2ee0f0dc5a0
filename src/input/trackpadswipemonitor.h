#pragma once

#include "clock/clock.h"
#include "state/swipedirection.h"

#include <QObject>
#include <QPointF>
#include <QPointer>
#include <QWindow>

#include <functional>
#include <optional>

class QWheelEvent;

namespace velline {

// Turns the scroll events of one window into at most one carousel swipe per gesture.
//
// attach() installs an event filter on the window; wheel events are observed and always passed
// on. Only precise (trackpad) events that are mostly horizontal count. Their horizontal deltas
// are summed within a gesture and the first time the sum reaches +50 the handler gets `right`,
// at -50 `left`; the rest of that gesture is ignored. A gesture ends with a began, ended or
// cancelled phase, or, for devices that deliver no phases (X11), with a pause of 200 ms.
class TrackpadSwipeMonitor : public QObject {
    Q_OBJECT

public:
    using Handler = std::function<void(SwipeDirection)>;

    static constexpr double threshold = 50.0;
    // Seconds without a phase-less event that end the gesture.
    static constexpr double gesturePause = 0.2;

    explicit TrackpadSwipeMonitor(Clock* clock = Clock::system(), QObject* parent = nullptr);
    ~TrackpadSwipeMonitor() override;
    TrackpadSwipeMonitor(const TrackpadSwipeMonitor&) = delete;
    TrackpadSwipeMonitor& operator=(const TrackpadSwipeMonitor&) = delete;

    // Detaches, then watches `window` and reports to `onSwipe`.
    void attach(QWindow* window, Handler onSwipe);
    // Stops watching and forgets the window, the handler and the gesture.
    void detach();
    // Replaces the handler without touching the gesture (the newest handler is always used).
    void setOnSwipe(Handler onSwipe) { m_onSwipe = std::move(onSwipe); }

    // One scroll event aimed at `target`.
    void handle(const QWindow* target, const QWheelEvent& event);

    bool isAttached() const { return m_attached; }
    QWindow* window() const { return m_window.data(); }
    double accumulatedDeltaX() const { return m_accumulatedDeltaX; }
    bool didFireThisGesture() const { return m_didFireThisGesture; }
    void setClock(Clock* clock) { m_clock = clock; }

    // Smooth scroll distance in pixels: pixelDelta when present, otherwise angleDelta / 8.
    static QPointF scrollDelta(const QWheelEvent& event);
    // A trackpad rather than a classic wheel: a phase, a pixel delta or a touchpad device.
    static bool isPrecise(const QWheelEvent& event);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void resetGesture();

    Clock* m_clock;
    QPointer<QWindow> m_window;
    bool m_attached = false;
    Handler m_onSwipe;
    double m_accumulatedDeltaX = 0.0;
    bool m_didFireThisGesture = false;
    // Time of the last phase-less event that passed the window and device filters.
    std::optional<double> m_lastPhaselessAt;
};

} // namespace velline
