#include "input/trackpadswipemonitor.h"

#include <QPointingDevice>
#include <QWheelEvent>

#include <cmath>

namespace velline {

TrackpadSwipeMonitor::TrackpadSwipeMonitor(Clock* clock, QObject* parent)
    : QObject(parent), m_clock(clock) {}

TrackpadSwipeMonitor::~TrackpadSwipeMonitor() {
    if (m_attached && m_window)
        m_window->removeEventFilter(this);
}

void TrackpadSwipeMonitor::attach(QWindow* window, Handler onSwipe) {
    detach();
    m_window = window;
    m_onSwipe = std::move(onSwipe);
    if (window)
        window->installEventFilter(this);
    m_attached = true;
}

void TrackpadSwipeMonitor::detach() {
    if (m_attached && m_window)
        m_window->removeEventFilter(this);
    m_attached = false;
    m_window = nullptr;
    m_onSwipe = nullptr;
    resetGesture();
    m_lastPhaselessAt.reset();
}

void TrackpadSwipeMonitor::resetGesture() {
    m_accumulatedDeltaX = 0.0;
    m_didFireThisGesture = false;
}

QPointF TrackpadSwipeMonitor::scrollDelta(const QWheelEvent& event) {
    if (!event.pixelDelta().isNull())
        return QPointF(event.pixelDelta());
    return QPointF(event.angleDelta()) / 8.0;
}

bool TrackpadSwipeMonitor::isPrecise(const QWheelEvent& event) {
    if (event.phase() != Qt::NoScrollPhase || !event.pixelDelta().isNull())
        return true;
    const QPointingDevice* device = event.pointingDevice();
    return device && device->type() == QInputDevice::DeviceType::TouchPad;
}

bool TrackpadSwipeMonitor::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Wheel && watched->isWindowType())
        handle(static_cast<QWindow*>(watched), *static_cast<QWheelEvent*>(event));
    return false;
}

void TrackpadSwipeMonitor::handle(const QWindow* target, const QWheelEvent& event) {
    if (target != m_window.data())
        return;
    if (!isPrecise(event))
        return;

    const Qt::ScrollPhase phase = event.phase();
    if (phase == Qt::NoScrollPhase) {
        // Without phases a gesture is a burst of events; a pause ends it, like an ended phase.
        const double now = m_clock->now();
        // (A microsecond of slack absorbs rounding of large instants.)
        if (m_lastPhaselessAt && now - *m_lastPhaselessAt >= gesturePause - 1e-6)
            resetGesture();
        m_lastPhaselessAt = now;
    }

    const QPointF delta = scrollDelta(event);
    if (!(std::abs(delta.x()) > std::abs(delta.y())))
        return;

    switch (phase) {
    case Qt::ScrollBegin:
    case Qt::ScrollEnd:
        resetGesture();
        return;
    case Qt::ScrollUpdate:
    case Qt::NoScrollPhase:
        break;
    case Qt::ScrollMomentum:
        // After the fingers lift: only the distance they travelled counts.
        return;
    }

    if (m_didFireThisGesture)
        return;
    m_accumulatedDeltaX += delta.x();
    SwipeDirection direction;
    if (m_accumulatedDeltaX >= threshold)
        direction = SwipeDirection::right;
    else if (m_accumulatedDeltaX <= -threshold)
        direction = SwipeDirection::left;
    else
        return;
    m_didFireThisGesture = true;
    // A copy: the handler may detach or destroy this monitor.
    if (Handler handler = m_onSwipe)
        handler(direction);
}

} // namespace velline
