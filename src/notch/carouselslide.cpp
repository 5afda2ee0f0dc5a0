#include "notch/carouselslide.h"

#include "notch/notchclock.h"
#include "notch/notchformat.h"

#include <algorithm>

namespace velline {

namespace {

// The spring's settle time is a search along its curve: found once, not at every frame.
double settleTime() {
    static const double settle = carouselSpring().settleTime();
    return settle;
}

} // namespace

CarouselSlide::CarouselSlide(QQuickItem* parent) : CarouselSlide(notchClock(), parent) {}

CarouselSlide::CarouselSlide(Clock* clock, QQuickItem* parent)
    : QQuickItem(parent), m_clock(clock),
      m_ticker(
          this, MotionKind::travel, [this] { step(); },
          [this] { return m_moving && m_clock->now() - m_start < settleTime(); }) {
    place();
}

void CarouselSlide::place() {
    setX(m_inset + (m_leaving ? m_progress : 1 - m_progress) * m_side * m_travel);
    setOpacity(std::clamp(m_leaving ? 1 - m_progress : m_progress, 0.0, 1.0));
}

template <typename T> void CarouselSlide::change(T& field, T value) {
    if (field == value)
        return;
    field = value;
    place();
    Q_EMIT placeChanged();
}

void CarouselSlide::setSide(int side) {
    change(m_side, side);
}

void CarouselSlide::setLeaving(bool leaving) {
    change(m_leaving, leaving);
}

void CarouselSlide::setTravel(double travel) {
    change(m_travel, travel);
}

void CarouselSlide::setInset(double inset) {
    change(m_inset, inset);
}

void CarouselSlide::setProgress(double progress) {
    // The ticker stops itself at its next frame.
    const bool wasRunning = m_moving;
    m_moving = false;
    change(m_progress, progress);
    if (wasRunning)
        Q_EMIT runningChanged();
}

void CarouselSlide::run() {
    const bool wasRunning = m_moving;
    m_start = m_clock->now();
    m_moving = true;
    change(m_progress, 0.0);
    m_ticker.start(m_clock);
    if (!wasRunning)
        Q_EMIT runningChanged();
}

void CarouselSlide::step() {
    if (!m_moving)
        return;
    const double t = m_clock->now() - m_start;
    const bool done = t >= settleTime();
    // The spring's curve ends at exactly 1 once it has settled.
    m_progress = done ? 1.0 : carouselSpring().value(t);
    place();
    Q_EMIT placeChanged();
    if (done) {
        m_moving = false;
        Q_EMIT runningChanged();
        Q_EMIT finished();
    }
}

} // namespace velline
