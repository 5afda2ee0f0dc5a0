#include "notch/spikehold.h"

#include <algorithm>

namespace velline {

bool SpikeHold::follow(const Stock* stock, Clock* clock, QObject* context,
                       std::function<void()> ended) {
    m_end.cancel();
    if (!stock)
        return false;
    const double now = clock->now();
    if (!stock->isSpiking(now))
        return false;
    // If rounding wakes the view a hair early, it is still spiking then and this arms the
    // next look.
    const double left = *stock->lastSpikeAt + Stock::spikeHoldSeconds - now;
    m_end = clock->schedule(std::max(left, 1e-6), context, std::move(ended));
    return true;
}

} // namespace velline
