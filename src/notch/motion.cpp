#include "notch/motion.h"

#include <algorithm>
#include <cmath>

namespace velline {

namespace {

// y of the cubic Bézier (0,0) (x1,y1) (x2,y2) (1,1) at the point whose x is `x`.
double cubicBezier(double x1, double y1, double x2, double y2, double x) {
    auto coord = [](double p1, double p2, double s) {
        const double u = 1 - s;
        return 3 * u * u * s * p1 + 3 * u * s * s * p2 + s * s * s;
    };
    // x(s) is monotonic for control points in 0…1: bisection is exact enough and always ends.
    double lo = 0, hi = 1, s = x;
    for (int i = 0; i < 60; ++i) {
        s = (lo + hi) / 2;
        if (coord(x1, x2, s) < x)
            lo = s;
        else
            hi = s;
    }
    return coord(y1, y2, s);
}

} // namespace

double timingCurveValue(TimingCurve curve, double fraction) {
    const double x = std::clamp(fraction, 0.0, 1.0);
    if (x <= 0 || x >= 1)
        return x;
    switch (curve) {
    case TimingCurve::linear:
        return x;
    case TimingCurve::easeIn:
        return cubicBezier(0.42, 0, 1, 1, x);
    case TimingCurve::easeOut:
        return cubicBezier(0, 0, 0.58, 1, x);
    case TimingCurve::easeInOut:
        return cubicBezier(0.42, 0, 0.58, 1, x);
    }
    return x;
}

double AnimatedValue::valueAt(double t) const {
    if (m_duration <= 0 || t >= m_start + m_duration)
        return m_to;
    if (t <= m_start)
        return m_from;
    return m_from + (m_to - m_from) * timingCurveValue(m_curve, (t - m_start) / m_duration);
}

void AnimatedValue::animateTo(double target, double t, double duration, TimingCurve curve) {
    m_from = valueAt(t);
    m_to = target;
    m_start = t;
    m_duration = std::max(0.0, duration);
    m_curve = curve;
}

void AnimatedValue::set(double value) {
    m_from = m_to = value;
    m_duration = 0;
}

double framePeriod(MotionKind kind) {
    switch (kind) {
    case MotionKind::travel:
        return FrameTimer::period;
    case MotionKind::swell:
        return 1.0 / 30.0;
    case MotionKind::fade:
        return 1.0 / 20.0;
    }
    return FrameTimer::period;
}

void FrameTicker::start(Clock* clock) {
    if (isRunning())
        return;
    m_timer = clock->frameTimer(
        m_context,
        [this] {
            const bool moving = m_isMoving();
            m_frame();
            // Stopped, not destroyed: this runs inside the timer's own tick. A frame that set
            // something moving again keeps it running.
            if (!moving && !m_isMoving())
                m_timer->stop();
        },
        m_period);
}

} // namespace velline
