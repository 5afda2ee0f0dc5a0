#pragma once

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

// The notification text of one alert event: "AAPL crossed above $188.00",
// "AAPL crossed below $187.50", "NVDA spiked −3.1 %" (the day's move of `stock`, when known;
// "NVDA spiked" otherwise).
QString alertNotificationSummary(const AlertEvent& event, const std::optional<Stock>& stock);
// The second line: the price and the day's move when the record is known, else empty.
QString alertNotificationBody(const std::optional<Stock>& stock);

// Sends every new alert event of the watch state as a desktop notification while the user has
// asked for them (UserPreferences::desktopNotifications). Each event is sent once.
class AlertNotifications : public QObject {
    Q_OBJECT

public:
    AlertNotifications(AppState* state, UserPreferences* prefs, DesktopNotifier* notifier,
                       QObject* parent = nullptr);

private:
    void eventChanged();

    AppState* m_state;
    UserPreferences* m_prefs;
    DesktopNotifier* m_notifier;
    QUuid m_lastSent;
};

} // namespace velline
