#pragma once

#include "clock/clock.h"

#include <QPointer>

#include <cstdint>
#include <vector>

namespace velline {

// Virtual time for tests. Time is kept in whole microseconds so that repeated steps add up
// exactly (three 0.4 s waits end at exactly 1.2 s).
// Nothing happens until advance() or advanceTo() is called; jobs then
// run in due-time order (ties in scheduling order) with now() equal to each job's due time.
// Jobs that a running job schedules inside the advanced span run in the same call.
class ManualClock final : public Clock {
public:
    explicit ManualClock(double start = 1'700'000'000.0) : m_now(toMicros(start)) {}

    double now() const override { return static_cast<double>(m_now) / 1e6; }
    ScheduledTask schedule(double delaySeconds, QObject* context,
                           std::function<void()> job) override;

    void advance(double seconds) { advanceMicros(toMicros(seconds)); }
    void advanceTo(double instant) { advanceToMicros(toMicros(instant)); }
    // Sets now() without running anything that becomes due (for "the clock jumped" cases).
    void setNow(double instant) { m_now = toMicros(instant); }
    // Runs jobs due at the current instant (delay-zero work).
    void runDue() { advanceToMicros(m_now); }

    // Jobs still waiting (not cancelled, context alive).
    int pendingCount() const;
    // Due time of the earliest waiting job, or -1 when none.
    double nextDue() const;

private:
    static std::int64_t toMicros(double seconds);
    void advanceMicros(std::int64_t micros) { advanceToMicros(m_now + micros); }
    void advanceToMicros(std::int64_t instant);

    struct Entry {
        std::int64_t due;
        std::uint64_t seq;
        QPointer<QObject> context;
        bool hadContext;
        std::function<void()> job;
        std::shared_ptr<ScheduledTask::State> state;
    };
    bool isLive(const Entry& e) const;

    std::int64_t m_now;
    std::uint64_t m_seq = 0;
    std::vector<Entry> m_entries;
};

} // namespace velline
