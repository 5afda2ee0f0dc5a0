#include "market/streamingquotesource.h"

#include <QNetworkInformation>
#include <QRandomGenerator>
#include <QWebSocket>

#include <algorithm>
#include <cmath>

namespace velline {

namespace {

qint64 msOf(double seconds) {
    return static_cast<qint64>(std::floor(seconds * 1000.0));
}

// A price from a poll is taken as of this long before it arrived, so the next pushed price
// (stamped on the streamer's one-second grid) is never mistaken for an older one.
constexpr qint64 polledPriceAgeMs = 5000;

} // namespace

StreamingQuoteSource::StreamingQuoteSource(const QUrl& streamUrl, StockService* http, Clock* clock,
                                           SessionRule inSession, QObject* parent)
    : QObject(parent), m_url(streamUrl), m_http(http), m_clock(clock),
      m_inSession(std::move(inSession)) {
    m_downSince = m_clock->now();
    if (m_url.isEmpty()) {
        m_priceSource = PriceSource::spark; // no stream: poll from the start
    } else {
        // The first dial waits for the first symbols, so the subscribe goes with the open.
        m_fallbackTask = m_clock->schedule(fallbackAfter, this, [this] {
            if (!m_open)
                setPriceSource(PriceSource::spark);
            pump();
        });
    }
}

StreamingQuoteSource::~StreamingQuoteSource() {
    m_reconnectTask.cancel();
    m_openTimeoutTask.cancel();
    m_watchdogTask.cancel();
    m_fallbackTask.cancel();
    m_pumpTask.cancel();
    m_waitingTask.cancel();
    m_heartbeat.reset();
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
        delete m_socket;
    }
}

void StreamingQuoteSource::setRandom(std::function<double()> random) {
    m_random = random;
    m_httpBackoff.setRandom(std::move(random));
}

double StreamingQuoteSource::spread(double value, double share) const {
    const double r = m_random ? m_random() : QRandomGenerator::global()->generateDouble();
    return value * (1.0 + share * (2.0 * std::clamp(r, 0.0, 1.0) - 1.0));
}

bool StreamingQuoteSource::isStreamable(const QString& symbol) {
    if (symbol.isEmpty() || symbol.size() > 32)
        return false;
    return std::all_of(symbol.cbegin(), symbol.cend(), [](QChar c) {
        const char16_t u = c.unicode();
        return u > 0x20 && u < 0x7F && u != '"' && u != '\\' && u != ',';
    });
}

QString StreamingQuoteSource::feedSourceName() const {
    return m_priceSource == PriceSource::stream ? QStringLiteral("stream") : QStringLiteral("poll");
}

void StreamingQuoteSource::setPriceSource(PriceSource source) {
    if (source == m_priceSource)
        return;
    m_priceSource = source;
    if (source == PriceSource::spark) {
        m_sparkFailures = 0;
        m_nextSparkAt = m_clock->now();
    }
    Q_EMIT priceSourceChanged();
}

std::optional<double> StreamingQuoteSource::requestsResumeAt() const {
    if (m_httpPausedUntil > m_clock->now())
        return m_httpPausedUntil;
    return std::nullopt;
}

void StreamingQuoteSource::setFocusSymbol(const QString& symbol) {
    m_focus = symbol;
}

// ---- the refresh cycle's view ------------------------------------------------------------

void StreamingQuoteSource::fetchQuotes(const QStringList& symbols, QObject* context,
                                       std::function<void(QList<Quote>)> done) {
    fetchBatch(symbols, context,
               [done = std::move(done)](QuoteBatch batch) { done(std::move(batch.quotes)); });
}

void StreamingQuoteSource::fetchBatch(const QStringList& symbols, QObject* context,
                                      std::function<void(QuoteBatch)> done) {
    want(symbols);
    QPointer<QObject> guard(context);
    const bool hadContext = context != nullptr;
    auto answer = [this, symbols, guard, hadContext, done = std::move(done)] {
        if (hadContext && !guard)
            return;
        const double now = m_clock->now();
        QuoteBatch batch;
        for (const QString& symbol : symbols) {
            const auto it = m_symbols.constFind(symbol);
            if (it == m_symbols.constEnd())
                continue;
            const SymbolState& state = *it;
            ++batch.attempted;
            const bool streamed = coveredByStream(symbol, state);
            if (state.failure && !streamed) {
                batch.failures.append(SymbolFailure{symbol, *state.failure});
                continue;
            }
            if (state.price <= 0)
                continue;
            if (!streamed && now - state.priceAt > polledPriceLife)
                continue; // nothing current to offer; the record keeps its last price
            batch.quotes.append(quoteOf(symbol, state, now));
        }
        done(std::move(batch));
    };
    // Before anything is known of these symbols (at start, or for a new list), the answer
    // waits until every one has a price or a failure, at most as long as one request may take.
    if (allKnown(symbols)) {
        m_clock->schedule(0, this, std::move(answer));
        return;
    }
    m_waiting.push_back(Waiting{symbols, std::move(answer)});
    if (!m_waitingTask.isPending())
        m_waitingTask = m_clock->schedule(StockService::requestTimeoutSeconds, this,
                                          [this] { answerWaiting(true); });
}

bool StreamingQuoteSource::allKnown(const QStringList& symbols) const {
    return std::all_of(symbols.cbegin(), symbols.cend(), [this](const QString& s) {
        const auto it = m_symbols.constFind(s);
        return it == m_symbols.constEnd() || it->price > 0 || it->failure;
    });
}

void StreamingQuoteSource::answerWaiting(bool all) {
    std::vector<Waiting> keep;
    for (Waiting& w : std::exchange(m_waiting, {})) {
        if (all || allKnown(w.symbols))
            m_clock->schedule(0, this, std::move(w.answer));
        else
            keep.push_back(std::move(w));
    }
    m_waiting = std::move(keep);
    if (m_waiting.empty())
        m_waitingTask.cancel();
}

bool StreamingQuoteSource::coveredByStream(const QString& symbol, const SymbolState& state) const {
    return m_open && state.streamed && m_subscribed.contains(symbol) &&
           !isSilent(symbol, state, m_clock->now());
}

bool StreamingQuoteSource::isSilent(const QString& symbol, const SymbolState& state,
                                    double now) const {
    if (!m_open || !m_subscribed.contains(symbol))
        return true;
    const double since = std::max(state.lastMessageAt, state.subscribedAt);
    return now - since >= symbolSilence - 1e-6 && m_inSession(symbol, now);
}

bool StreamingQuoteSource::anyInSession(double now) const {
    return std::any_of(m_subscribed.cbegin(), m_subscribed.cend(),
                       [&](const QString& s) { return m_inSession(s, now); });
}

Quote StreamingQuoteSource::quoteOf(const QString& symbol, const SymbolState& state,
                                    double now) const {
    Quote quote;
    quote.symbol = symbol;
    quote.price = state.price;
    quote.previousClose = state.previousClose;
    quote.volume = state.dayVolume;
    quote.intraday = state.bars;
    // The unfinished bar, as the stream has seen it since the last chart answer.
    if (state.streamed && state.barSlot >= 0 && state.priceAt > state.barsAt &&
        m_inSession(symbol, now)) {
        const PricePoint bar{state.barSlot, state.price,
                             std::max(0.0, state.dayVolume - state.barBaseVolume)};
        if (!quote.intraday.isEmpty() && quote.intraday.last().time == state.barSlot)
            quote.intraday.last() = bar;
        else if (quote.intraday.isEmpty() || quote.intraday.last().time < state.barSlot)
            quote.intraday.append(bar);
    }
    return quote;
}

void StreamingQuoteSource::want(const QStringList& symbols) {
    if (symbols == m_wanted)
        return;
    const double now = m_clock->now();
    QStringList added;
    QStringList removed;
    for (const QString& s : symbols) {
        if (!m_wanted.contains(s) && !added.contains(s))
            added << s;
    }
    for (const QString& s : std::as_const(m_wanted)) {
        if (!symbols.contains(s))
            removed << s;
    }
    m_wanted = symbols;
    for (const QString& s : std::as_const(removed))
        m_symbols.remove(s);
    for (const QString& s : std::as_const(added)) {
        SymbolState state;
        state.nextBarsAt = now; // a new symbol has no bars yet
        state.burst = true;
        m_symbols.insert(s, state);
    }

    if (m_open) {
        QStringList gone;
        for (const QString& s : std::as_const(removed)) {
            if (m_subscribed.removeAll(s) > 0)
                gone << s;
        }
        if (!gone.isEmpty())
            m_socket->sendTextMessage(QString::fromUtf8(unsubscribeFrame(gone)));
        subscribe(added);
    } else if (!m_url.isEmpty() && !m_socket && !m_reconnectTask.isPending() &&
               !m_wanted.isEmpty()) {
        dial();
    }
    pump();
}

// ---- the streaming connection --------------------------------------------------------------

void StreamingQuoteSource::dial() {
    m_reconnectAt.reset();
    dropSocket();
    m_socket = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this);
    // A frame beyond this is refused by the socket itself, which then closes.
    m_socket->setMaxAllowedIncomingFrameSize(maxStreamFrameBytes);
    m_socket->setMaxAllowedIncomingMessageSize(maxStreamFrameBytes);
    connect(m_socket, &QWebSocket::connected, this, &StreamingQuoteSource::opened);
    QWebSocket* socket = m_socket;
    const auto lost = [this, socket] {
        if (m_socket == socket)
            closed();
    };
    connect(m_socket, &QWebSocket::disconnected, this, lost);
    connect(m_socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), this, lost);
    connect(m_socket, &QWebSocket::textMessageReceived, this, &StreamingQuoteSource::frameArrived);
    connect(m_socket, &QWebSocket::binaryMessageReceived, this,
            [this](const QByteArray&) { ++m_droppedFrames; });
    m_openTimeoutTask = m_clock->schedule(openTimeout, this, [this] {
        if (m_socket && !m_open)
            closed();
    });
    m_socket->open(m_url);
}

void StreamingQuoteSource::dropSocket() {
    m_openTimeoutTask.cancel();
    if (!m_socket)
        return;
    QWebSocket* socket = std::exchange(m_socket, nullptr);
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}

void StreamingQuoteSource::opened() {
    m_openTimeoutTask.cancel();
    const double now = m_clock->now();
    m_open = true;
    ++m_connectionsOpened;
    m_openedAt = now;
    m_lastFrameAt = now;
    m_heardOnConnection = false;
    m_subscribed.clear();
    m_slotsUsed = 0;
    m_downSince = 0;
    m_fallbackTask.cancel();
    subscribe(m_wanted);
    m_heartbeat =
        std::make_unique<RepeatingTimer>(m_clock, heartbeatPeriod, this, [this] { heartbeat(); });
    armWatchdog();
    // Whatever happened while the connection was down is in the bars again.
    if (m_everOpened)
        scheduleAllBars(now, true);
    m_everOpened = true;
    Q_EMIT streamOpenChanged();
    pump();
}

void StreamingQuoteSource::closed() {
    const bool wasOpen = m_open;
    m_open = false;
    m_heartbeat.reset();
    m_watchdogTask.cancel();
    m_subscribed.clear();
    dropSocket();
    const double now = m_clock->now();
    if (m_downSince <= 0)
        m_downSince = now;
    if (m_priceSource == PriceSource::stream)
        setPriceSource(PriceSource::waiting);
    if (m_priceSource == PriceSource::waiting) {
        const double fallbackAt = m_downSince + fallbackAfter;
        m_fallbackTask.cancel();
        m_fallbackTask = m_clock->schedule(fallbackAt - now, this, [this] {
            if (!m_open && m_priceSource == PriceSource::waiting)
                setPriceSource(PriceSource::spark);
            pump();
        });
    }
    scheduleReconnect();
    if (wasOpen)
        Q_EMIT streamOpenChanged();
    pump();
}

void StreamingQuoteSource::scheduleReconnect() {
    m_reconnectTask.cancel();
    ++m_reconnectStreak;
    double delay = reconnectFirst;
    for (int i = 1; i < m_reconnectStreak && delay < reconnectMax; ++i)
        delay *= 2;
    delay = std::min(spread(std::min(delay, reconnectMax), reconnectJitter), reconnectMax);
    m_reconnectAt = m_clock->now() + delay;
    m_reconnectTask = m_clock->schedule(delay, this, [this] {
        if (!m_wanted.isEmpty())
            dial();
        else
            m_reconnectAt.reset();
    });
}

void StreamingQuoteSource::networkReachable() {
    if (m_open || m_url.isEmpty())
        return;
    m_reconnectStreak = 0;
    if (m_reconnectTask.isPending()) {
        m_reconnectTask.cancel();
        dial();
    }
    // Requests paused because nothing answered may go out again.
    if (m_httpBackoff.trouble() == FeedTrouble::offline) {
        m_httpBackoff.reset();
        m_httpPausedUntil = 0;
        pump();
    }
}

void StreamingQuoteSource::watchNetworkReachability() {
    if (!QNetworkInformation::instance())
        return;
    connect(QNetworkInformation::instance(), &QNetworkInformation::reachabilityChanged, this,
            [this](QNetworkInformation::Reachability reachability) {
                if (reachability == QNetworkInformation::Reachability::Online)
                    networkReachable();
            });
}

void StreamingQuoteSource::subscribe(const QStringList& symbols) {
    if (!m_open)
        return;
    const double now = m_clock->now();
    QStringList fresh;
    for (const QString& s : symbols) {
        if (isStreamable(s) && !m_subscribed.contains(s) && !fresh.contains(s))
            fresh << s; // never a frame the streamer could refuse
    }
    const qsizetype room = maxSubscribed - m_slotsUsed;
    if (fresh.size() > room && m_slotsUsed > m_subscribed.size()) {
        // Slots went to symbols since dropped: a new connection has room for all of them.
        closed();
        m_reconnectStreak = 0;
        m_reconnectTask.cancel();
        dial();
        return;
    }
    fresh = fresh.mid(0, std::max<qsizetype>(0, room)); // beyond the cap: polled instead
    if (fresh.isEmpty())
        return;
    m_slotsUsed += static_cast<int>(fresh.size());
    m_subscribed << fresh;
    for (const QString& s : std::as_const(fresh)) {
        if (auto it = m_symbols.find(s); it != m_symbols.end())
            it->subscribedAt = now;
    }
    m_socket->sendTextMessage(QString::fromUtf8(subscribeFrame(fresh)));
}

void StreamingQuoteSource::heartbeat() {
    // The whole list again: the streamer forgets an idle subscription.
    if (m_open && !m_subscribed.isEmpty())
        m_socket->sendTextMessage(QString::fromUtf8(subscribeFrame(m_subscribed)));
}

void StreamingQuoteSource::armWatchdog() {
    m_watchdogTask.cancel();
    if (!m_open)
        return;
    // The earliest instant at which the connection or one of its symbols could fall silent.
    const double now = m_clock->now();
    double next = m_lastFrameAt + connectionSilence;
    for (const QString& s : std::as_const(m_subscribed)) {
        const SymbolState& state = m_symbols.value(s);
        const double since = std::max(state.lastMessageAt, state.subscribedAt);
        if (since + symbolSilence > now)
            next = std::min(next, since + symbolSilence);
    }
    m_watchdogTask = m_clock->schedule(std::max(0.0, next - now), this, [this] { watchdog(); });
}

void StreamingQuoteSource::watchdog() {
    const double now = m_clock->now();
    if (!m_open)
        return;
    if (now - m_lastFrameAt >= connectionSilence - 1e-6 && anyInSession(now)) {
        closed(); // a dead connection in the session: dial again
        return;
    }
    pump(); // silent symbols are polled
    // Outside the session silence is normal: look again when it could matter.
    m_watchdogTask.cancel();
    double next = std::max(now + 1.0, m_lastFrameAt + connectionSilence);
    for (const QString& s : std::as_const(m_subscribed)) {
        const SymbolState& state = m_symbols.value(s);
        const double since = std::max(state.lastMessageAt, state.subscribedAt);
        if (since + symbolSilence > now)
            next = std::min(next, since + symbolSilence);
    }
    if (!anyInSession(now))
        next = std::max(next, now + 60.0);
    m_watchdogTask = m_clock->schedule(next - now, this, [this] { watchdog(); });
}

void StreamingQuoteSource::frameArrived(const QString& frame) {
    if (!m_open)
        return;
    const QByteArray bytes = frame.toUtf8();
    if (bytes.size() > maxStreamFrameBytes) {
        ++m_droppedFrames;
        closed();
        return;
    }
    const double now = m_clock->now();
    m_lastFrameAt = now;
    const std::optional<StreamTick> tick = decodeStreamFrame(bytes);
    if (!tick) {
        ++m_droppedFrames; // the record stays as it was
        return;
    }
    if (!m_heardOnConnection) {
        m_heardOnConnection = true;
        m_reconnectStreak = 0;
    }
    setPriceSource(PriceSource::stream);
    const auto it = m_symbols.find(tick->symbol);
    if (it == m_symbols.end() || !m_subscribed.contains(tick->symbol))
        return;
    SymbolState& state = *it;
    const bool wasSilent = isSilent(tick->symbol, state, now);
    state.lastMessageAt = now;
    if (wasSilent)
        armWatchdog();
    if (tick->price <= 0 || !std::isfinite(tick->price))
        return;
    // An old snapshot (the streamer sends the last one it has on subscribe) changes nothing.
    if (tick->timeMs > 0 && tick->timeMs < state.priceTimeMs)
        return;
    const double slot = std::floor(now / barLength) * barLength;
    const double volume =
        tick->dayVolume > 0 ? static_cast<double>(tick->dayVolume) : state.dayVolume;
    if (slot != state.barSlot) {
        // A new bar starts with the day volume reached before it.
        state.barBaseVolume = state.dayVolume > 0 ? state.dayVolume : volume;
        state.barSlot = slot;
    }
    state.price = tick->price;
    state.priceTimeMs = tick->timeMs > 0 ? tick->timeMs : msOf(now);
    state.priceAt = now;
    state.streamed = true;
    state.dayVolume = volume;
    state.failure.reset();
    if (!state.chartClose && tick->previousClose > 0)
        state.previousClose = roundWithPriceHint(tick->previousClose, tick->priceHint);
    Q_EMIT streamedPrice(tick->symbol);
    answerWaiting(false);
}

// ---- requests -------------------------------------------------------------------------------

double StreamingQuoteSource::nextBarsDue(double due, const QString& symbol) const {
    // In the session every bar period; outside it every half hour, unless the session opens
    // earlier.
    for (double at = due + barPeriodInSession; at < due + barPeriodOutside;
         at += barPeriodInSession) {
        if (m_inSession(symbol, at))
            return at;
    }
    return due + barPeriodOutside;
}

void StreamingQuoteSource::scheduleAllBars(double now, bool onlyStale) {
    for (const QString& s : std::as_const(m_wanted)) {
        SymbolState& state = m_symbols[s];
        if (onlyStale && state.barsAt >= 0 && now - state.barsAt < barsFreshAfterReconnect)
            continue;
        state.nextBarsAt = now;
        state.burst = true;
    }
}

void StreamingQuoteSource::pump() {
    m_pumpTask.cancel();
    if (m_requestInFlight || m_wanted.isEmpty())
        return;
    // A microsecond of slack: a job booked for an instant runs at the clock's reading of it,
    // which may fall a rounding step short.
    const double now = m_clock->now() + 1e-6;
    const auto later = [this](double at) {
        m_pumpAt = at;
        m_pumpTask =
            m_clock->schedule(std::max(at - m_clock->now(), 1e-3), this, [this] { pump(); });
    };
    if (m_httpPausedUntil > now) {
        later(m_httpPausedUntil);
        return;
    }

    // Prices first: they are what the screen waits for.
    double next = std::numeric_limits<double>::infinity();
    if (m_priceSource == PriceSource::spark) {
        if (m_nextSparkAt <= now) {
            fetchSpark();
            return;
        }
        next = std::min(next, m_nextSparkAt);
    }
    QStringList polled; // symbols whose price comes from the chart endpoint now
    if (m_priceSource == PriceSource::chart) {
        if (m_nextSparkAt <= now) { // try the multi-symbol endpoint again now and then
            fetchSpark();
            return;
        }
        next = std::min(next, m_nextSparkAt);
        polled = m_wanted;
    } else if (m_priceSource == PriceSource::stream) {
        for (const QString& s : std::as_const(m_wanted)) {
            if (isSilent(s, m_symbols.value(s), now))
                polled << s;
        }
    }
    if (!polled.isEmpty()) {
        // The symbol on screen first, then the one left alone longest.
        const double spacingDue = m_lastChartPollAt + chartPollSpacing;
        const double perSymbol = m_priceSource == PriceSource::chart ? 0.0 : silentPollPeriod;
        QString pick;
        double pickDue = std::numeric_limits<double>::infinity();
        for (const QString& s : std::as_const(polled)) {
            const SymbolState& state = m_symbols.value(s);
            double due = std::max(state.lastPollAt + perSymbol, spacingDue);
            if (m_priceSource == PriceSource::chart)
                due = std::max(due, state.lastPollAt + chartPollSpacing * polled.size());
            const bool better = due < pickDue || (due == pickDue && s == m_focus) ||
                                (due == pickDue && pick != m_focus &&
                                 state.lastPollAt < m_symbols.value(pick).lastPollAt);
            if (better) {
                pick = s;
                pickDue = due;
            }
        }
        if (pickDue <= now) {
            fetchBars(pick, now, true);
            return;
        }
        next = std::min(next, pickDue);
    }

    // Bars, in the order they fall due.
    QString barsFor;
    double barsDue = std::numeric_limits<double>::infinity();
    for (const QString& s : std::as_const(m_wanted)) {
        const double due = m_symbols.value(s).nextBarsAt;
        if (due < barsDue) {
            barsDue = due;
            barsFor = s;
        }
    }
    if (!barsFor.isEmpty() && barsDue <= now) {
        fetchBars(barsFor, barsDue, false);
        return;
    }
    next = std::min(next, barsDue);
    if (std::isfinite(next))
        later(next);
}

void StreamingQuoteSource::fetchBars(const QString& symbol, double due, bool poll) {
    m_requestInFlight = true;
    const double now = m_clock->now();
    SymbolState& state = m_symbols[symbol];
    if (poll) {
        m_lastChartPollAt = now;
        state.lastPollAt = now;
    }
    // The next bars are booked now, so a failure does not ask again at once. After a burst
    // (start, reconnect, new symbols) each symbol takes its own share of the period, so the
    // requests spread out evenly.
    const double base = poll ? now : due;
    state.nextBarsAt = nextBarsDue(base, symbol);
    if (state.burst && !m_wanted.isEmpty()) {
        const auto index = static_cast<double>(std::max<qsizetype>(0, m_wanted.indexOf(symbol)));
        state.nextBarsAt +=
            (state.nextBarsAt - base) * index / static_cast<double>(m_wanted.size());
    }
    state.burst = false;
    m_http->fetchQuote(symbol, this, [this, symbol, due, poll](QuoteResult result) {
        chartAnswered(symbol, result, due, poll);
    });
}

void StreamingQuoteSource::takePolledPrice(SymbolState& state, double price, qint64 timeMs,
                                           double now) {
    const qint64 at = timeMs > 0 ? timeMs : msOf(now) - polledPriceAgeMs;
    state.failure.reset();
    if (at < state.priceTimeMs)
        return;
    state.price = price;
    state.priceTimeMs = at;
    state.priceAt = now;
    state.streamed = false;
}

void StreamingQuoteSource::chartAnswered(const QString& symbol, const QuoteResult& result,
                                         double due, bool poll) {
    Q_UNUSED(due);
    m_requestInFlight = false;
    const auto it = m_symbols.find(symbol);
    if (it == m_symbols.end()) { // no longer asked for
        requestFinished(result.ok(), {});
        return;
    }
    SymbolState& state = *it;
    const double now = m_clock->now();
    if (!result.ok()) {
        // A failed bar fetch leaves the bars as they were; a price already current stays.
        if (poll || state.price <= 0)
            state.failure = result.failure();
        answerWaiting(false);
        requestFinished(false, {SymbolFailure{symbol, result.failure()}});
        return;
    }
    const Quote& quote = result.quote();
    state.bars = quote.intraday;
    state.barsAt = now;
    if (quote.previousClose > 0) {
        state.previousClose = quote.previousClose;
        state.chartClose = true;
    }
    // The stream, while it covers the symbol, is newer than the chart's meta.
    if (!coveredByStream(symbol, state)) {
        takePolledPrice(state, quote.price, 0, now);
        if (quote.volume > 0)
            state.dayVolume = quote.volume;
    } else {
        state.failure.reset();
    }
    // The stream builds on from the chart's last bar.
    if (!state.bars.isEmpty()) {
        const PricePoint& last = state.bars.last();
        const double slot = std::floor(now / barLength) * barLength;
        if (last.time >= slot) {
            state.barSlot = last.time;
            const double day = quote.volume > 0 ? quote.volume : state.dayVolume;
            state.barBaseVolume = std::max(0.0, day - last.volume);
        }
    }
    answerWaiting(false);
    requestFinished(true, {});
}

void StreamingQuoteSource::fetchSpark() {
    m_requestInFlight = true;
    const double now = m_clock->now();
    m_nextSparkAt = now + (m_priceSource == PriceSource::chart ? sparkRetryPeriod : sparkPeriod);
    const QStringList asked = m_wanted;
    m_http->fetchSpark(asked, this, [this, asked](StockService::SparkAnswer answer) {
        sparkAnswered(answer, asked);
    });
}

void StreamingQuoteSource::sparkAnswered(const StockService::SparkAnswer& answer,
                                         const QStringList& asked) {
    m_requestInFlight = false;
    const double now = m_clock->now();
    if (answer.failure) {
        const bool rateLimited =
            answer.failure->httpStatus == 429 || answer.failure->httpStatus == 503;
        if (!rateLimited && ++m_sparkFailures >= sparkFailuresBeforeChart &&
            m_priceSource == PriceSource::spark)
            setPriceSource(PriceSource::chart);
        QList<SymbolFailure> failures;
        for (const QString& s : asked) {
            if (auto it = m_symbols.find(s); it != m_symbols.end()) {
                // Polled symbol by symbol, the chart's own answers speak for them.
                if (m_priceSource != PriceSource::chart)
                    it->failure = answer.failure;
                failures.append(SymbolFailure{s, *answer.failure});
            }
        }
        // Only a rate limit holds the other requests back: any other failure of this
        // endpoint is routed around by polling the chart instead.
        answerWaiting(false);
        requestFinished(false, rateLimited ? failures : QList<SymbolFailure>{});
        return;
    }
    m_sparkFailures = 0;
    if (m_priceSource == PriceSource::chart && !m_open)
        setPriceSource(PriceSource::spark);
    for (const SparkQuote& q : answer.quotes) {
        const auto it = m_symbols.find(q.symbol);
        if (it == m_symbols.end() || coveredByStream(q.symbol, *it))
            continue;
        takePolledPrice(*it, q.price, q.timeMs, now);
        if (q.volume > 0)
            it->dayVolume = q.volume;
        if (!it->chartClose && q.previousClose > 0)
            it->previousClose = q.previousClose;
    }
    for (const QString& s : asked) {
        const bool answered = std::any_of(answer.quotes.cbegin(), answer.quotes.cend(),
                                          [&](const SparkQuote& q) { return q.symbol == s; });
        if (auto it = m_symbols.find(s); it != m_symbols.end() && !answered)
            it->failure =
                QuoteFailure{StockError::noData, QStringLiteral("not in the multi-symbol answer"),
                             0, std::nullopt};
    }
    answerWaiting(false);
    requestFinished(!answer.quotes.isEmpty(), {});
}

void StreamingQuoteSource::requestFinished(bool anyPrice, const QList<SymbolFailure>& failures) {
    QuoteBatch outcome;
    if (anyPrice)
        outcome.quotes.append(Quote{});
    outcome.failures = failures;
    outcome.attempted = 1;
    const double pause = m_httpBackoff.record(outcome);
    m_httpPausedUntil = pause > 0 ? m_clock->now() + pause : 0;
    pump();
}

} // namespace velline
