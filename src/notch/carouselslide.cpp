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

double CarouselSlide::xAt(double progress, int side, bool leaving, double travel, double inset) {
    return inset + (leaving ? progress : 1 - progress) * side * travel;
}

double CarouselSlide::opacityAt(double progress, bool leaving) {
    return std::clamp(leaving ? 1 - progress : progress, 0.0, 1.0);
}

void CarouselSlide::place() {
    setX(xAt(m_progress, m_side, m_leaving, m_travel, m_inset));
    setOpacity(opacityAt(m_progress, m_leaving));
}

void CarouselSlide::setSide(int side) {
    if (side == m_side)
        return;
    m_side = side;
    place();
    Q_EMIT placeChanged();
}

void CarouselSlide::setLeaving(bool leaving) {
    if (leaving == m_leaving)
        return;
    m_leaving = leaving;
    place();
    Q_EMIT placeChanged();
}

void CarouselSlide::setTravel(double travel) {
    if (travel == m_travel)
        return;
    m_travel = travel;
    place();
    Q_EMIT placeChanged();
}

void CarouselSlide::setInset(double inset) {
    if (inset == m_inset)
        return;
    m_inset = inset;
    place();
    Q_EMIT placeChanged();
}

void CarouselSlide::setProgress(double progress) {
    // The ticker stops itself at its next frame.
    const bool wasRunning = m_moving;
    m_moving = false;
    if (progress != m_progress) {
        m_progress = progress;
        place();
        Q_EMIT placeChanged();
    }
    if (wasRunning)
        Q_EMIT runningChanged();
}

void CarouselSlide::run() {
    const bool wasRunning = m_moving;
    m_start = m_clock->now();
    m_moving = true;
    if (m_progress != 0) {
        m_progress = 0;
        place();
        Q_EMIT placeChanged();
    }
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
