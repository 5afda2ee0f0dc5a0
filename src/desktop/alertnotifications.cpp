#include "desktop/alertnotifications.h"

#include "desktop/desktopnotifier.h"
#include "prefs/userpreferences.h"
#include "state/appstate.h"

#include <cmath>

namespace velline {

namespace {

QString dollars(double value) {
    return QStringLiteral("$") + QString::number(value, 'f', 2);
}

// "+2.4 %", "−3.1 %" (a real minus sign), "0.0 %".
QString signedPercent(double percent) {
    const QString digits = QString::number(std::abs(percent), 'f', 1);
    if (digits == QLatin1String("0.0"))
        return QStringLiteral("0.0 %");
    return (percent < 0 ? QStringLiteral("\u2212") : QStringLiteral("+")) + digits +
           QStringLiteral(" %");
}

bool hasDayMove(const Stock& stock) {
    return stock.previousClose > 0 && std::isfinite(stock.changePercent());
}

} // namespace

QString alertNotificationSummary(const AlertEvent& event, const std::optional<Stock>& stock) {
    if (!event.isSpike()) {
        const bool above = event.reason.direction == PriceAlert::Direction::above;
        return QStringLiteral("%1 crossed %2 %3")
            .arg(event.symbol, above ? QStringLiteral("above") : QStringLiteral("below"),
                 dollars(event.reason.level));
    }
    if (stock && hasDayMove(*stock))
        return QStringLiteral("%1 spiked %2")
            .arg(event.symbol, signedPercent(stock->changePercent()));
    return QStringLiteral("%1 spiked").arg(event.symbol);
}

QString alertNotificationBody(const std::optional<Stock>& stock) {
    if (!stock || !(stock->price > 0))
        return {};
    if (!hasDayMove(*stock))
        return QStringLiteral("Last %1").arg(dollars(stock->price));
    return QStringLiteral("Last %1, %2 today")
        .arg(dollars(stock->price), signedPercent(stock->changePercent()));
}

AlertNotifications::AlertNotifications(AppState* state, UserPreferences* prefs,
                                       DesktopNotifier* notifier, QObject* parent)
    : QObject(parent), m_state(state), m_prefs(prefs), m_notifier(notifier) {
    connect(m_state, &AppState::alertEventChanged, this, &AlertNotifications::eventChanged);
}

void AlertNotifications::eventChanged() {
    const std::optional<AlertEvent> event = m_state->alertEvent();
    if (!event || event->id == m_lastSent || !m_prefs->desktopNotifications())
        return;
    m_lastSent = event->id;
    std::optional<Stock> stock;
    for (const Stock& s : m_state->stocks()) {
        if (s.symbol == event->symbol) {
            stock = s;
            break;
        }
    }
    m_notifier->notify(alertNotificationSummary(*event, stock), alertNotificationBody(stock));
}

} // namespace velline
