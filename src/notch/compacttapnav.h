#pragma once

#include "clock/clock.h"

#include <QObject>
#include <QPointer>
#include <QtQmlIntegration/qqmlintegration.h>

#include <optional>

namespace velline {

class AppState;

// Taps on a compact view step the carousel: one tap steps forward once the double-tap time
// has passed without a second tap; a second tap within that time steps back instead (and the
// forward step never happens). The double-tap time is the desktop's double-click interval,
// at most 0.28 s.
class CompactTapNav : public QObject {
    Q_OBJECT
    QML_ELEMENT
    // Without a state the shared one is used.
    Q_PROPERTY(QObject* state READ stateObject WRITE setStateObject NOTIFY stateChanged)
    Q_PROPERTY(bool isPending READ isPending NOTIFY pendingChanged)

public:
    static constexpr double maxTapDelay = 0.28;

    explicit CompactTapNav(QObject* parent = nullptr);
    // `doubleClickInterval` in seconds; when absent the desktop's setting is read on each tap.
    CompactTapNav(AppState* state, Clock* clock, std::optional<double> doubleClickInterval,
                  QObject* parent = nullptr);

    // min(double-click interval, 0.28 s).
    double tapDelay() const;
    static double tapDelayFor(double doubleClickInterval);

    Q_INVOKABLE void tap();
    bool isPending() const { return m_pendingNext.isPending(); }

    QObject* stateObject() const;
    void setStateObject(QObject* state);

Q_SIGNALS:
    void stateChanged();
    void pendingChanged();

private:
    AppState* state() const;

    QPointer<AppState> m_state;
    Clock* m_clock;
    std::optional<double> m_interval;
    ScheduledTask m_pendingNext;
};

} // namespace velline
