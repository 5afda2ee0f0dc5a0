#include "clock/clock.h"

#include <QAbstractAnimation>
#include <QDateTime>
#include <QTimer>

#include <cmath>

namespace velline {

void ScheduledTask::cancel() {
    if (m_state)
        m_state->cancelled = true;
}

bool ScheduledTask::isPending() const {
    return m_state && !m_state->cancelled && !m_state->done;
}

namespace {

// A frame timer on schedule(): a repeating timer of 1/60 s.
class ScheduledFrameTimer final : public FrameTimer {
public:
    ScheduledFrameTimer(Clock* clock, QObject* context, std::function<void()> tick)
        : m_timer(clock, period, context, std::move(tick)) {}
    void stop() override { m_timer.stop(); }
    bool isActive() const override { return m_timer.isActive(); }

private:
    RepeatingTimer m_timer;
};

// A frame timer on the application's animation timer: an endless animation whose every update
// is a tick, so it ticks exactly when the declarative views' animations step.
class AnimationFrameTimer final : public QAbstractAnimation, public FrameTimer {
public:
    AnimationFrameTimer(QObject* context, std::function<void()> tick)
        : m_context(context), m_tick(std::move(tick)) {
        start();
        m_started = true;
    }
    ~AnimationFrameTimer() override { QAbstractAnimation::stop(); }

    int duration() const override { return -1; }
    void stop() override { QAbstractAnimation::stop(); }
    bool isActive() const override { return state() == QAbstractAnimation::Running; }

protected:
    void updateCurrentTime(int) override {
        // start() reports time 0 at once; the first tick belongs to the next frame.
        if (!m_started)
            return;
        if (!m_context) {
            QAbstractAnimation::stop();
            return;
        }
        m_tick();
    }

private:
    QPointer<QObject> m_context;
    std::function<void()> m_tick;
    bool m_started = false;
};

class SystemClock final : public Clock {
public:
    double now() const override {
        return static_cast<double>(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
    }

    ScheduledTask schedule(double delaySeconds, QObject* context,
                           std::function<void()> job) override {
        auto state = std::make_shared<ScheduledTask::State>();
        const double clamped = std::isfinite(delaySeconds) ? std::max(0.0, delaySeconds) : 0.0;
        const int ms = static_cast<int>(std::lround(clamped * 1000.0));
        // Precise for every delay: a coarse timer may fire up to 5 % late, which shows as a
        // carousel step at 10.5 s instead of 10 s. There are only a handful of timers, so the
        // extra wake-up precision costs nothing measurable.
        QTimer::singleShot(ms, Qt::PreciseTimer, context, [state, job = std::move(job)] {
            if (state->cancelled || state->done)
                return;
            state->done = true;
            job();
        });
        return ScheduledTask(state);
    }

    std::unique_ptr<FrameTimer> frameTimer(QObject* context, std::function<void()> tick) override {
        return std::make_unique<AnimationFrameTimer>(context, std::move(tick));
    }
};

} // namespace

std::unique_ptr<FrameTimer> Clock::frameTimer(QObject* context, std::function<void()> tick) {
    return std::make_unique<ScheduledFrameTimer>(this, context, std::move(tick));
}

Clock* Clock::system() {
    static SystemClock clock;
    return &clock;
}

RepeatingTimer::RepeatingTimer(Clock* clock, double periodSeconds, QObject* context,
                               std::function<void()> tick)
    : m_clock(clock), m_period(periodSeconds), m_nextDue(clock->now() + periodSeconds),
      m_context(context), m_tick(std::move(tick)) {
    arm();
}

RepeatingTimer::~RepeatingTimer() {
    *m_alive = false;
    m_next.cancel();
}

void RepeatingTimer::stop() {
    m_active = false;
    m_next.cancel();
}

void RepeatingTimer::arm() {
    if (!m_active || !m_context)
        return;
    const double now = m_clock->now();
    // Further ahead than one period means the clock went back: start the schedule afresh.
    if (!(m_period > 0) || m_nextDue - now > m_period)
        m_nextDue = now + std::max(m_period, 0.0);
    std::weak_ptr<bool> alive = m_alive;
    m_next = m_clock->schedule(m_nextDue - now, m_context, [this, alive] {
        if (alive.expired() || !m_active)
            return;
        // The next due time still ahead; ticks that fell behind are dropped, not caught up.
        const double ran = m_clock->now();
        do {
            m_nextDue += m_period;
        } while (m_period > 0 && m_nextDue <= ran);
        // Re-arm before the tick so a tick that stops the timer wins.
        arm();
        m_tick();
    });
}

} // namespace velline
