#include "notch/feednote.h"

#include "notch/notchclock.h"
#include "prefs/userpreferences.h"

#include <QDateTime>
#include <QLocale>

#include <cmath>

namespace velline {

namespace feednote {

namespace {

QString countdown(std::optional<double> resumesAt, double now) {
    const double left = resumesAt ? *resumesAt - now : 0.0;
    const double seconds = std::max(1.0, std::ceil(left - 1e-9));
    return QStringLiteral("retrying in %1 s").arg(static_cast<qint64>(std::min(seconds, 1e9)));
}

QString localTime(double instant, double now) {
    const QLocale locale;
    const auto at = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::floor(instant * 1000)));
    const auto today = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::floor(now * 1000)));
    const QString time = locale.toString(at.time(), QLocale::ShortFormat);
    if (at.date() == today.date())
        return time;
    return locale.toString(at.date(), QLocale::ShortFormat) + QLatin1Char(' ') + time;
}

bool showsCountdown(const Situation& s) {
    return s.status == AppState::FeedStatus::paused && s.resumesAt;
}

} // namespace

QString line(const Situation& s, double now) {
    if (!s.stale)
        return {};
    if (s.status == AppState::FeedStatus::paused && s.trouble == FeedTrouble::rateLimited)
        return QStringLiteral("The quote feed asked Velline to slow down — ") +
               countdown(s.resumesAt, now);
    if (s.status == AppState::FeedStatus::paused)
        return QStringLiteral("The quote feed is having trouble — ") + countdown(s.resumesAt, now);
    if (!s.lastGoodRefresh || !std::isfinite(*s.lastGoodRefresh))
        return QStringLiteral("Offline — no prices yet");
    return QStringLiteral("Offline — prices from ") + localTime(*s.lastGoodRefresh, now);
}

QString emptyCardText(bool hasSymbols, const Situation& s, double now) {
    if (!hasSymbols)
        return QStringLiteral("No tracked stocks");
    if (s.stale)
        return line(s, now);
    return QStringLiteral("Waiting for quotes…");
}

} // namespace feednote

FeedNoteModel::FeedNoteModel(QObject* parent) : FeedNoteModel(notchClock(), parent) {}

FeedNoteModel::FeedNoteModel(Clock* clock, QObject* parent) : QObject(parent), m_clock(clock) {
    recompute();
}

FeedNoteModel::~FeedNoteModel() {
    m_countdown.cancel();
}

QObject* FeedNoteModel::stateObject() const {
    return m_state.data();
}

void FeedNoteModel::setStateObject(QObject* state) {
    setState(qobject_cast<AppState*>(state));
}

void FeedNoteModel::setState(AppState* state) {
    if (state == m_state)
        return;
    for (const auto& c : m_connections)
        disconnect(c);
    m_connections.clear();
    m_state = state;
    if (state) {
        const auto update = [this] { recompute(); };
        m_connections = {
            connect(state, &AppState::feedStatusChanged, this, update),
            connect(state, &AppState::feedStaleChanged, this, update),
            connect(state, &AppState::lastGoodRefreshChanged, this, update),
            connect(state, &AppState::isAfterHoursChanged, this, update),
            connect(state, &AppState::stocksChanged, this, update),
            connect(state->prefs(), &UserPreferences::trackedSymbolsChanged, this, update),
        };
    }
    recompute();
}

void FeedNoteModel::recompute() {
    m_countdown.cancel();
    feednote::Situation s;
    bool hasSymbols = false;
    if (m_state) {
        s = {m_state->feedStatus(), m_state->feedTrouble(), m_state->feedResumesAt(),
             m_state->lastGoodRefresh(), m_state->isFeedStale()};
        hasSymbols = !m_state->symbolsToFetch().isEmpty();
    }
    const double now = m_clock->now();
    const QString line = feednote::line(s, now);
    const QString empty = feednote::emptyCardText(hasSymbols, s, now);
    const bool differs = line != m_line || empty != m_emptyText || s.stale != m_situation.stale;
    m_situation = s;
    m_line = line;
    m_emptyText = empty;
    if (s.stale && feednote::showsCountdown(s) && s.resumesAt && *s.resumesAt > now) {
        // The next whole second of the countdown.
        const double left = *s.resumesAt - now;
        const double step = left - std::floor(left - 1e-9);
        m_countdown = m_clock->schedule(step > 0 ? step : 1.0, this, [this] { recompute(); });
    }
    if (differs)
        Q_EMIT changed();
}

} // namespace velline
