#pragma once

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

namespace velline {

// Handle to a scheduled job. Copies share the job; cancel() from any copy stops it.
// Dropping every handle does NOT cancel the job (fire-and-forget is allowed).
class ScheduledTask {
public:
    ScheduledTask() = default;

    void cancel();
    bool isPending() const;
    explicit operator bool() const { return isPending(); }

    struct State {
        bool cancelled = false;
        bool done = false;
    };
    explicit ScheduledTask(std::shared_ptr<State> state) : m_state(std::move(state)) {}

private:
    std::shared_ptr<State> m_state;
};

// Ticks once a frame while it runs (see Clock::frameTimer). Destroying it stops it; stop() may
// be called from inside a tick.
class FrameTimer {
public:
    // The display's frame period: the fastest any frame timer ticks.
    static constexpr double period = 1.0 / 60.0;

    virtual ~FrameTimer() = default;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;
};

class FrameHub;

// The one seam for "now" and for timed work. Production code never calls
// QDateTime::currentDateTime() or QTimer directly for behaviour that tests must drive;
// it asks a Clock. Tests hand in a ManualClock and advance virtual time.
class Clock {
public:
    virtual ~Clock() = default;

    // Current instant as seconds since 1970-01-01 00:00:00 UTC.
    virtual double now() const = 0;

    // Runs `job` once, `delaySeconds` from now, on the thread that owns `context`'s event loop
    // (the main thread for everything in this program). Nothing runs if `context` is destroyed
    // first or the returned task is cancelled. A negative delay counts as zero.
    virtual ScheduledTask schedule(double delaySeconds, QObject* context,
                                   std::function<void()> job) = 0;

    // Runs `tick` once every `periodSeconds` (never faster than FrameTimer::period), starting one
    // period from now, until the returned timer stops or `context` is destroyed. All frame
    // timers of a clock share one underlying timer, which ticks at the period of the fastest one
    // running: slower ones keep only the ticks their period asks for, so motions of different
    // rates draw in the same frames instead of asking for frames in between, and nothing ticks
    // faster than the fastest motion on screen needs. Nothing ticks while none runs.
    std::unique_ptr<FrameTimer> frameTimer(QObject* context, std::function<void()> tick,
                                           double periodSeconds = FrameTimer::period);

    // The process-wide real clock (wall time, QTimer-driven).
    static Clock* system();

protected:
    // The shared timer under the frame timers: ticks every `periodSeconds`. The real clock ticks
    // at the display's period in step with the toolkit's own animations (one animation timer),
    // so motion driven from here and the declarative views' animations ask for the same frames;
    // slower periods and this default (what virtual time in tests sees) tick through schedule().
    virtual std::unique_ptr<FrameTimer> frameSource(QObject* context, std::function<void()> tick,
                                                    double periodSeconds);

private:
    friend class FrameHub;
    std::shared_ptr<FrameHub> m_frames;
};

// A repeating timer on top of a Clock: fires every `period` seconds until stopped or destroyed.
// Ticks keep a fixed schedule: each one is due a whole period after the previous one was due,
// not after it ran, so lateness never adds up. Ticks missed while the thread was busy are
// skipped (the next tick is the next due time still ahead), never run in a burst. When the
// clock jumps backwards the schedule starts afresh from the new time.
class RepeatingTimer {
public:
    RepeatingTimer(Clock* clock, double periodSeconds, QObject* context,
                   std::function<void()> tick);
    ~RepeatingTimer();
    RepeatingTimer(const RepeatingTimer&) = delete;
    RepeatingTimer& operator=(const RepeatingTimer&) = delete;

    void stop();
    bool isActive() const { return m_active; }
    double period() const { return m_period; }

private:
    void arm();

    Clock* m_clock;
    double m_period;
    double m_nextDue;
    QPointer<QObject> m_context;
    std::function<void()> m_tick;
    ScheduledTask m_next;
    bool m_active = true;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

} // namespace velline
