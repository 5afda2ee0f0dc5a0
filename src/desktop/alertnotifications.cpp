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

bool hasPrice(const Stock& stock) {
    return stock.price > 0 && std::isfinite(stock.price);
}

bool hasDayMove(const Stock& stock) {
    return hasPrice(stock) && stock.previousClose > 0 && std::isfinite(stock.changePercent());
}

// The volume against its average the way the spike check compares it: the day's volume
// against the feed's average when there is one, else the latest bars against the earlier ones.
double volumeMultiple(const Stock& stock) {
    if (stock.avgVolume > 0 && stock.currentVolume > AppState::volumeMultiple * stock.avgVolume)
        return stock.currentVolume / stock.avgVolume;
    return stock.volumeRatio();
}

// "now $96.90", with the day's move in brackets where asked and known.
QString nowText(const Stock& stock, bool withDayMove) {
    QString text = QStringLiteral("now %1").arg(dollars(stock.price));
    if (withDayMove && hasDayMove(stock))
        text += QStringLiteral(" (%1 today)").arg(signedPercent(stock.changePercent()));
    return text;
}

AlertNotificationText crossText(const AlertEvent& event, const std::optional<Stock>& stock) {
    const bool above = event.reason.direction == PriceAlert::Direction::above;
    AlertNotificationText text;
    text.summary = QStringLiteral("%1 crossed %2 %3")
                       .arg(event.symbol, above ? QStringLiteral("above") : QStringLiteral("below"),
                            dollars(event.reason.level));
    if (!stock || !hasPrice(*stock))
        text.body = QStringLiteral("Your price alert at %1").arg(dollars(event.reason.level));
    else if (hasDayMove(*stock))
        text.body = QStringLiteral("Now %1, %2 today")
                        .arg(dollars(stock->price), signedPercent(stock->changePercent()));
    else
        text.body = QStringLiteral("Now %1").arg(dollars(stock->price));
    return text;
}

AlertNotificationText spikeText(const AlertEvent& event, const std::optional<Stock>& stock) {
    AlertNotificationText text;
    const SpikeCause cause = stock ? spikeCauseOf(*stock) : SpikeCause::unknown;
    switch (cause) {
    case SpikeCause::dayMove: {
        const QString move = signedPercent(stock->changePercent());
        text.summary = QStringLiteral("%1 spiked %2").arg(event.symbol, move);
        text.body =
            QStringLiteral("%1 against the previous close, %2").arg(move, nowText(*stock, false));
        break;
    }
    case SpikeCause::windowMove: {
        const QString move = signedPercent(stock->windowChangePercent());
        text.summary = QStringLiteral("%1 spiked %2").arg(event.symbol, move);
        text.body = QStringLiteral("%1 in 5 minutes, %2").arg(move, nowText(*stock, true));
        break;
    }
    case SpikeCause::volume:
        text.summary = QStringLiteral("%1 spiked on volume").arg(event.symbol);
        text.body =
            QStringLiteral("Volume %1 \u00d7 the day's average, %2")
                .arg(QString::number(volumeMultiple(*stock), 'f', 1), nowText(*stock, true));
        break;
    case SpikeCause::unknown:
        text.summary = QStringLiteral("%1 spiked").arg(event.symbol);
        if (stock && hasPrice(*stock)) {
            QString now = nowText(*stock, true);
            now[0] = now[0].toUpper();
            text.body = now;
        } else {
            text.body = QStringLiteral("A sharp move or unusual volume");
        }
        break;
    }
    return text;
}

} // namespace

SpikeCause spikeCauseOf(const Stock& stock) {
    if (!hasPrice(stock))
        return SpikeCause::unknown;
    // The same arithmetic as the spike check, so a move exactly on a threshold counts alike.
    const double dayMove =
        stock.previousClose > 0
            ? std::fabs((stock.price - stock.previousClose) / stock.previousClose * 100.0)
            : 0.0;
    if (dayMove >= AppState::dayMoveThreshold)
        return SpikeCause::dayMove;
    if (std::abs(stock.windowChangePercent()) >= AppState::windowMoveThreshold)
        return SpikeCause::windowMove;
    const bool surge = stock.avgVolume > 0
                           ? stock.currentVolume > AppState::volumeMultiple * stock.avgVolume ||
                                 stock.volumeRatio() >= AppState::barVolumeRatio
                           : stock.volumeRatio() >= AppState::barVolumeRatio;
    return surge ? SpikeCause::volume : SpikeCause::unknown;
}

AlertNotificationText alertNotificationText(const AlertEvent& event,
                                            const std::optional<Stock>& stock) {
    return event.isSpike() ? spikeText(event, stock) : crossText(event, stock);
}

AlertNotifications::AlertNotifications(AppState* state, UserPreferences* prefs,
                                       DesktopNotifier* notifier, QObject* parent)
    : QObject(parent), m_state(state), m_prefs(prefs), m_notifier(notifier) {
    connect(m_state, &AppState::alertEventChanged, this, &AlertNotifications::eventChanged);
    // A refresh fires its events before it publishes the records they came from.
    connect(m_state, &AppState::stocksChanged, this, &AlertNotifications::sendPending);
}

void AlertNotifications::eventChanged() {
    const std::optional<AlertEvent> event = m_state->alertEvent();
    if (!event || event->id == m_lastSent || !m_prefs->desktopNotifications())
        return;
    m_pending = event;
    // An event published outside a refresh goes out on the next turn of the event loop.
    if (!m_flush)
        m_flush = m_state->clock()->schedule(0, this, [this] { sendPending(); });
}

void AlertNotifications::sendPending() {
    m_flush.cancel();
    if (!m_pending)
        return;
    const AlertEvent event = *m_pending;
    m_pending.reset();
    if (event.id == m_lastSent)
        return;
    m_lastSent = event.id;
    std::optional<Stock> stock;
    for (const Stock& s : m_state->stocks()) {
        if (s.symbol == event.symbol) {
            stock = s;
            break;
        }
    }
    const AlertNotificationText text = alertNotificationText(event, stock);
    m_notifier->notify(text.summary, text.body);
}

} // namespace velline
