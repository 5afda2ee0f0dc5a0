#include "notch/compacttapnav.h"

#include "notch/notchclock.h"

#include "state/appstate.h"

#include <QGuiApplication>
#include <QStyleHints>

#include <algorithm>

namespace velline {

CompactTapNav::CompactTapNav(QObject* parent)
    : CompactTapNav(nullptr, notchClock(), std::nullopt, parent) {}

CompactTapNav::CompactTapNav(AppState* state, Clock* clock,
                             std::optional<double> doubleClickInterval, QObject* parent)
    : QObject(parent), m_state(state), m_clock(clock), m_interval(doubleClickInterval) {}

double CompactTapNav::tapDelayFor(double doubleClickInterval) {
    if (!(doubleClickInterval >= 0))
        return maxTapDelay;
    return std::min(doubleClickInterval, maxTapDelay);
}

double CompactTapNav::tapDelay() const {
    if (m_interval)
        return tapDelayFor(*m_interval);
    const int ms = QGuiApplication::styleHints()->mouseDoubleClickInterval();
    return tapDelayFor(ms / 1000.0);
}

AppState* CompactTapNav::state() const {
    return m_state ? m_state.data() : &AppState::shared();
}

QObject* CompactTapNav::stateObject() const {
    return state();
}

void CompactTapNav::setStateObject(QObject* object) {
    auto* s = qobject_cast<AppState*>(object);
    if (s == m_state)
        return;
    m_state = s;
    Q_EMIT stateChanged();
}

void CompactTapNav::tap() {
    AppState* s = state();
    if (m_pendingNext.isPending()) {
        // Second tap of a double tap: back one, and the forward step never happens.
        m_pendingNext.cancel();
        m_pendingNext = {};
        Q_EMIT pendingChanged();
        s->swipe(SwipeDirection::right);
        return;
    }
    // The step belongs to the state, not to this view: it still runs if the view goes away.
    QPointer<CompactTapNav> self(this);
    m_pendingNext = m_clock->schedule(tapDelay(), s, [s, self] {
        s->swipe(SwipeDirection::left);
        if (self) {
            self->m_pendingNext = {};
            Q_EMIT self->pendingChanged();
        }
    });
    Q_EMIT pendingChanged();
}

} // namespace velline
