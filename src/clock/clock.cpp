#include "clock/clock.h"

#include <QAbstractAnimation>
#include <QDateTime>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <vector>

namespace velline {

void ScheduledTask::cancel() {
    if (m_state)
        m_state->cancelled = true;
}

bool ScheduledTask::isPending() const {
    return m_state && !m_state->cancelled && !m_state->done;
}

namespace {

// A frame timer on schedule(): a repeating timer of its period.
class ScheduledFrameTimer final : public FrameTimer {
public:
    ScheduledFrameTimer(Clock* clock, double period, QObject* context, std::function<void()> tick)
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

protected:
    std::unique_ptr<FrameTimer> frameSource(QObject* context, std::function<void()> tick,
                                            double periodSeconds) override {
        if (periodSeconds <= FrameTimer::period * 1.01)
            return std::make_unique<AnimationFrameTimer>(context, std::move(tick));
        return Clock::frameSource(context, std::move(tick), periodSeconds);
    }
};

} // namespace

// The frame timers of one clock: one source timer at the fastest period among them, and per
// timer the next instant it is due.
class FrameHub {
public:
    explicit FrameHub(Clock* clock) : m_clock(clock) {}

    struct Subscriber {
        QPointer<QObject> context;
        std::function<void()> tick;
        double period;
        double due;
        bool active = true;
        bool live() const { return active && context; }
    };

    std::shared_ptr<Subscriber> add(QObject* context, std::function<void()> tick, double period) {
        auto sub = std::make_shared<Subscriber>(
            Subscriber{context, std::move(tick), period, m_clock->now() + period});
        m_subscribers.push_back(sub);
        retune();
        return sub;
    }

    void removed() {
        if (!m_ticking)
            retune();
    }

private:
    void onTick() {
        m_retired.clear(); // never the source that is ticking now
        m_ticking = true;
        const double now = m_clock->now();
        // A timer is due on the source tick nearest to its due instant.
        const double slack = m_sourcePeriod / 2;
        // By index: a tick may start another timer, which joins at the end.
        for (std::size_t i = 0; i < m_subscribers.size(); ++i) {
            const std::shared_ptr<Subscriber> sub = m_subscribers[i];
            if (!sub->live() || now < sub->due - slack)
                continue;
            sub->due = now + sub->period;
            sub->tick();
        }
        m_ticking = false;
        retune();
    }

    // Drops the timers that ended and sets the source to the fastest period still running.
    void retune() {
        if (!m_ticking)
            m_retired.clear();
        std::erase_if(m_subscribers, [](const auto& sub) { return !sub->live(); });
        double fastest = 0;
        for (const auto& sub : m_subscribers)
            fastest = fastest > 0 ? std::min(fastest, sub->period) : sub->period;
        if (fastest == m_sourcePeriod && (m_source || fastest == 0))
            return;
        if (m_source) {
            m_source->stop();
            // Inside its own tick the source may not be destroyed: it goes at the next tick.
            if (m_ticking)
                m_retired.push_back(std::move(m_source));
            m_source.reset();
        }
        m_sourcePeriod = fastest;
        if (fastest > 0)
            m_source = m_clock->frameSource(
                &m_anchor, [this] { onTick(); }, fastest);
    }

    Clock* m_clock;
    QObject m_anchor;
    std::vector<std::shared_ptr<Subscriber>> m_subscribers;
    std::unique_ptr<FrameTimer> m_source;
    std::vector<std::unique_ptr<FrameTimer>> m_retired;
    double m_sourcePeriod = 0;
    bool m_ticking = false;
};

namespace {

class HubFrameTimer final : public FrameTimer {
public:
    HubFrameTimer(std::weak_ptr<FrameHub> hub, std::shared_ptr<FrameHub::Subscriber> sub)
        : m_hub(std::move(hub)), m_sub(std::move(sub)) {}
    ~HubFrameTimer() override { HubFrameTimer::stop(); }

    void stop() override {
        if (!m_sub->active)
            return;
        m_sub->active = false;
        if (const auto hub = m_hub.lock())
            hub->removed();
    }
    bool isActive() const override { return m_sub->live() && !m_hub.expired(); }

private:
    std::weak_ptr<FrameHub> m_hub;
    std::shared_ptr<FrameHub::Subscriber> m_sub;
};

} // namespace

std::unique_ptr<FrameTimer> Clock::frameTimer(QObject* context, std::function<void()> tick,
                                              double periodSeconds) {
    if (!m_frames)
        m_frames = std::make_shared<FrameHub>(this);
    const double period = std::isfinite(periodSeconds) ? std::max(periodSeconds, FrameTimer::period)
                                                       : FrameTimer::period;
    auto sub = m_frames->add(context, std::move(tick), period);
    return std::make_unique<HubFrameTimer>(m_frames, std::move(sub));
}

std::unique_ptr<FrameTimer> Clock::frameSource(QObject* context, std::function<void()> tick,
                                               double periodSeconds) {
    return std::make_unique<ScheduledFrameTimer>(this, periodSeconds, context, std::move(tick));
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
