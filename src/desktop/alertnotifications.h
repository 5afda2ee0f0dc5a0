#pragma once

#include "clock/clock.h"
#include "market/stock.h"
#include "state/alertevent.h"

#include <QObject>
#include <QString>
#include <QUuid>

#include <optional>

namespace velline {

class AppState;
class DesktopNotifier;
class UserPreferences;

// What made a symbol spike, in the order the spike check tries its rules.
enum class SpikeCause { dayMove, windowMove, volume, unknown };

// The first spike rule that `stock` meets now (the record after the merge that fired).
SpikeCause spikeCauseOf(const Stock& stock);

// The two lines of one alert notification, read from the symbol's record after the merge that
// fired the event (`stock`, when the symbol is still on screen):
//   "MSFT crossed below $45.72"         "Now $45.70, −1.2 % today"
//   "NVDA spiked −3.1 %"                "−3.1 % against the previous close, now $96.90"
//   "NVDA spiked +1.2 %"                "+1.2 % in 5 minutes, now $96.90 (−0.4 % today)"
//   "NVDA spiked on volume"             "Volume 3.4 × the day's average, now $96.90 (…)"
// The body is never empty.
struct AlertNotificationText {
    QString summary;
    QString body;
};
AlertNotificationText alertNotificationText(const AlertEvent& event,
                                            const std::optional<Stock>& stock);

// Sends every new alert event of the watch state as a desktop notification while the user has
// asked for them (UserPreferences::desktopNotifications). Each event is sent once, after the
// refresh that fired it has published its records, so the text carries the price that fired;
// of several events of one refresh only the last is sent (each would replace the one before).
class AlertNotifications : public QObject {
    Q_OBJECT

public:
    AlertNotifications(AppState* state, UserPreferences* prefs, DesktopNotifier* notifier,
                       QObject* parent = nullptr);

private:
    void eventChanged();
    void sendPending();

    AppState* m_state;
    UserPreferences* m_prefs;
    DesktopNotifier* m_notifier;
    QUuid m_lastSent;
    std::optional<AlertEvent> m_pending;
    ScheduledTask m_flush;
};

} // namespace velline
