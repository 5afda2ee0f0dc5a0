#pragma once

#include "clock/clock.h"

#include <QObject>

#include <functional>
#include <memory>

namespace velline {

// The timing curves of the notch's animations (the standard cubic Béziers).
enum class TimingCurve { linear, easeIn, easeOut, easeInOut };

// Progress 0 → 1 of `curve` at `fraction` of its duration (clamped to 0…1).
double timingCurveValue(TimingCurve curve, double fraction);

// A number that moves to new targets along timing curves, as a function of time. A move
// started while another is running starts from wherever the value is at that moment.
class AnimatedValue {
public:
    explicit AnimatedValue(double initial = 0) : m_from(initial), m_to(initial) {}

    double valueAt(double t) const;
    double target() const { return m_to; }
    // Moves to `target` over `duration` seconds from `t` on; a duration of 0 jumps.
    void animateTo(double target, double t, double duration, TimingCurve curve);
    void set(double value);
    bool isMovingAt(double t) const { return t < m_start + m_duration; }

private:
    double m_from;
    double m_to;
    double m_start = 0;
    double m_duration = 0;
    TimingCurve m_curve = TimingCurve::linear;
};

// Frame ticks on a clock while something moves: `frame` runs once per animation frame (about
// sixty times a second, in step with the views' own animations) until `isMoving` says the
// motion is over (then once more, so the last frame lands on the target).
class FrameTicker {
public:
    FrameTicker(QObject* context, std::function<void()> frame, std::function<bool()> isMoving)
        : m_context(context), m_frame(std::move(frame)), m_isMoving(std::move(isMoving)) {}

    // Starts ticking on `clock` unless already running.
    void start(Clock* clock);
    void stop() { m_timer.reset(); }
    bool isRunning() const { return m_timer && m_timer->isActive(); }

private:
    QObject* m_context;
    std::function<void()> m_frame;
    std::function<bool()> m_isMoving;
    std::unique_ptr<FrameTimer> m_timer;
};

} // namespace velline
