#include "clock/manualclock.h"

#include <algorithm>
#include <cmath>

namespace velline {

std::int64_t ManualClock::toMicros(double seconds) {
    if (!std::isfinite(seconds))
        return 0;
    return static_cast<std::int64_t>(std::llround(seconds * 1e6));
}

ScheduledTask ManualClock::schedule(double delaySeconds, QObject* context,
                                    std::function<void()> job) {
    auto state = std::make_shared<ScheduledTask::State>();
    const std::int64_t clamped = std::max<std::int64_t>(0, toMicros(delaySeconds));
    m_entries.push_back(
        Entry{m_now + clamped, m_seq++, context, context != nullptr, std::move(job), state});
    return ScheduledTask(state);
}

bool ManualClock::isLive(const Entry& e) const {
    return !e.state->cancelled && !e.state->done && (!e.hadContext || e.context);
}

void ManualClock::advanceToMicros(std::int64_t instant) {
    for (;;) {
        m_entries.erase(std::remove_if(m_entries.begin(), m_entries.end(),
                                       [this](const Entry& e) { return !isLive(e); }),
                        m_entries.end());
        auto it = std::min_element(m_entries.begin(), m_entries.end(),
                                   [](const Entry& a, const Entry& b) {
                                       return a.due < b.due || (a.due == b.due && a.seq < b.seq);
                                   });
        if (it == m_entries.end() || it->due > instant)
            break;
        Entry entry = std::move(*it);
        m_entries.erase(it);
        m_now = std::max(m_now, entry.due);
        entry.state->done = true;
        entry.job();
    }
    m_now = std::max(m_now, instant);
}

int ManualClock::pendingCount() const {
    return static_cast<int>(
        std::count_if(m_entries.begin(), m_entries.end(), [this](const Entry& e) { return isLive(e); }));
}

double ManualClock::nextDue() const {
    bool found = false;
    std::int64_t best = 0;
    for (const auto& e : m_entries) {
        if (isLive(e) && (!found || e.due < best)) {
            best = e.due;
            found = true;
        }
    }
    return found ? static_cast<double>(best) / 1e6 : -1.0;
}

} // namespace velline
