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

// What an animation moves, which decides how many frames a second it is drawn at. Something
// that travels across the screen (a rolling digit, a sliding view, the notch's spring) needs
// every frame the display shows; a small swell of something that stays in place (a flash, a
// pulse) reads as smooth at half that; a fade of colour or opacity at a third.
enum class MotionKind { travel, swell, fade };

// Seconds between two frames of motion of `kind`: travel 1/60, swell 1/30, fade 1/20.
double framePeriod(MotionKind kind);

// Frame ticks on a clock while something moves: `frame` runs once per frame of `kind`'s period
// until `isMoving` says the motion is over (then once more, so the last frame lands on the
// target). Every ticker of a clock shares its frame timer (see Clock::frameTimer), so a flash
// beside a rolling digit draws in the roll's frames and adds none of its own, and a flash alone
// ticks at its own rate. Nothing runs while nothing moves.
class FrameTicker {
public:
    FrameTicker(QObject* context, MotionKind kind, std::function<void()> frame,
                std::function<bool()> isMoving)
        : m_context(context), m_period(framePeriod(kind)), m_frame(std::move(frame)),
          m_isMoving(std::move(isMoving)) {}
    FrameTicker(QObject* context, std::function<void()> frame, std::function<bool()> isMoving)
        : FrameTicker(context, MotionKind::travel, std::move(frame), std::move(isMoving)) {}

    // Starts ticking on `clock` unless already running.
    void start(Clock* clock);
    void stop() { m_timer.reset(); }
    bool isRunning() const { return m_timer && m_timer->isActive(); }
    double period() const { return m_period; }

private:
    QObject* m_context;
    double m_period;
    std::function<void()> m_frame;
    std::function<bool()> m_isMoving;
    std::unique_ptr<FrameTimer> m_timer;
};

} // namespace velline
