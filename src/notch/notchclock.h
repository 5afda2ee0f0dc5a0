#pragma once

#include "clock/clock.h"

namespace velline {

// The clock that notch content made from QML (view models, flashes, pulses, the tap rule)
// runs on: the system clock unless a test or a tool has set another. Set it before creating
// the views; objects keep the clock they were made with.
Clock* notchClock();
// nullptr restores the system clock.
void setNotchClock(Clock* clock);

} // namespace velline
