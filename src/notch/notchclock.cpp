#include "notch/notchclock.h"

namespace velline {

namespace {
Clock*& current() {
    static Clock* clock = nullptr;
    return clock;
}
} // namespace

Clock* notchClock() {
    return current() ? current() : Clock::system();
}

void setNotchClock(Clock* clock) {
    current() = clock;
}

} // namespace velline
