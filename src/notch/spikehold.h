#pragma once

#include "clock/clock.h"
#include "market/stock.h"

#include <QObject>

#include <functional>

namespace velline {

// A view draws a record in its spike colours while the spike is younger than
// Stock::spikeHoldSeconds. SpikeHold answers whether it is now, and wakes the view once, when
// the hold runs out (a one-shot job on the clock, no polling), so the view can draw the record
// in its usual colours again. Each call re-arms it for the record given.
class SpikeHold {
public:
    SpikeHold() = default;
    ~SpikeHold() { cancel(); }
    SpikeHold(const SpikeHold&) = delete;
    SpikeHold& operator=(const SpikeHold&) = delete;

    // Whether `stock` (null: none on screen) spikes at the clock's present. While it does,
    // `ended` runs on `context` when the hold ends; a job armed earlier is dropped.
    bool follow(const Stock* stock, Clock* clock, QObject* context, std::function<void()> ended);
    void cancel() { m_end.cancel(); }
    bool isArmed() const { return m_end.isPending(); }

private:
    ScheduledTask m_end;
};

} // namespace velline
