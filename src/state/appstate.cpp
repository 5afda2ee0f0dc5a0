#include "state/appstate.h"

#include "market/stockservice.h"
#include "market/streamingquotesource.h"
#include "prefs/userpreferences.h"
#include "state/marketcalendar.h"

#include <QDateTime>
#include <QJSEngine>
#include <QNetworkInformation>
#include <QTimeZone>

#include <cmath>

namespace velline {

QString swipeDirectionName(SwipeDirection direction) {
    switch (direction) {
    case SwipeDirection::left:
        return QStringLiteral("left");
    case SwipeDirection::right:
        return QStringLiteral("right");
    case SwipeDirection::none:
        break;
    }
    return QStringLiteral("none");
}

namespace {

LogoPrefetch& sharedPrefetch() {
    static LogoPrefetch prefetch;
    return prefetch;
}

QVariant optionalText(const std::optional<QString>& text) {
    return text ? QVariant(*text) : QVariant();
}

// The day direction of a fresh quote, by the same flat-band rule as a record's.
Stock::Direction directionOf(const Quote& quote) {
    Stock probe;
    probe.price = quote.price;
    probe.previousClose = quote.previousClose;
    return probe.direction();
}

const Stock* findRecord(const QList<Stock>& stocks, const QString& symbol) {
    for (const Stock& stock : stocks) {
        if (stock.symbol == symbol)
            return &stock;
    }
    return nullptr;
}

} // namespace

const QStringList& AppState::futuresSymbols() {
    static const QStringList symbols{
        QStringLiteral("ES=F"),  QStringLiteral("NQ=F"), QStringLiteral("YM=F"),
        QStringLiteral("RTY=F"), QStringLiteral("GC=F"), QStringLiteral("CL=F"),
    };
    return symbols;
}

AppState::AppState(UserPreferences* prefs, QuoteSource* source, Clock* clock, LogoPrefetch prefetch,
                   QObject* parent)
    : QObject(parent), m_prefs(prefs), m_source(source), m_clock(clock),
      m_prefetch(std::move(prefetch)) {
    m_isAfterHours = !isRegularSessionOpen(m_clock->now()) && m_prefs->showFuturesAfterHours();
    m_feedSource = m_source->feedSourceName();
    m_createdAt = m_clock->now();

    // Tracked symbols: the current list and every later one, each delivered on a later turn
    // of the event loop; each delivery prefetches logos and starts a refresh.
    const QStringList current = m_prefs->trackedSymbols();
    runSoon([this, current] { trackedSymbolsDelivered(current); });
    connect(m_prefs, &UserPreferences::trackedSymbolsChanged, this, [this] {
        const QStringList symbols = m_prefs->trackedSymbols();
        runSoon([this, symbols] { trackedSymbolsDelivered(symbols); });
    });
    // The futures option: later values only.
    connect(m_prefs, &UserPreferences::showFuturesAfterHoursChanged, this,
            [this] { runSoon([this] { refresh(); }); });

    connect(m_prefs, &UserPreferences::priceAlertsChanged, this, &AppState::alertsForActiveChanged);
    connect(m_prefs, &UserPreferences::holdingsChanged, this, &AppState::portfolioChanged);
}

AppState::~AppState() {
    m_alertClearTask.cancel();
    m_rotationWorkItem.cancel();
    m_pauseTask.cancel();
    m_staleCheck.cancel();
}

AppState& AppState::shared() {
    static AppState* state = [] {
        StreamingQuoteSource* source = &sharedQuoteSource();
        auto* created = new AppState(&UserPreferences::shared(), source, Clock::system(),
                                     [](const QString& symbol) {
                                         if (const LogoPrefetch& prefetch = sharedPrefetch())
                                             prefetch(symbol);
                                     });
        created->watchNetworkReachability();
        source->watchNetworkReachability();
        // The symbol on screen is polled first when prices come symbol by symbol.
        QObject::connect(created, &AppState::activeSymbolChanged, source, [created, source] {
            source->setFocusSymbol(created->activeSymbol().value_or(QString()));
        });
        return created;
    }();
    return *state;
}

StreamingQuoteSource& AppState::sharedQuoteSource() {
    // Lives until the process ends; never destroyed.
    static StreamingQuoteSource* source = [] {
        QString problem;
        const QUrl url = streamUrlFromEnvironment(&problem);
        if (!problem.isEmpty())
            qWarning("velline: %s; prices are polled", qPrintable(problem));
        return new StreamingQuoteSource(url, &StockService::shared(), Clock::system(),
                                        &AppState::isSymbolSessionOpen);
    }();
    return *source;
}

void AppState::setSharedLogoPrefetch(LogoPrefetch prefetch) {
    sharedPrefetch() = std::move(prefetch);
}

AppState* AppState::create(QQmlEngine*, QJSEngine*) {
    AppState* state = &shared();
    QJSEngine::setObjectOwnership(state, QJSEngine::CppOwnership);
    return state;
}

void AppState::runSoon(std::function<void()> job) {
    m_clock->schedule(0, this, std::move(job));
}

void AppState::prefetchLogos(const QStringList& symbols) {
    if (!m_prefetch)
        return;
    for (const QString& symbol : symbols)
        m_prefetch(symbol);
}

void AppState::trackedSymbolsDelivered(const QStringList& symbols) {
    prefetchLogos(symbols);
    runSoon([this] { refresh(); });
}

// ---- published fields ------------------------------------------------------------------

QStringList AppState::symbols() const {
    QStringList list;
    list.reserve(m_stocks.size());
    for (const Stock& stock : m_stocks)
        list.append(stock.symbol);
    return list;
}

void AppState::setStocks(const QList<Stock>& stocks) {
    m_stocks = stocks;
    Q_EMIT stocksChanged();
    Q_EMIT activeStockChanged();
    Q_EMIT portfolioChanged();
}

void AppState::setActiveSymbol(const std::optional<QString>& symbol) {
    m_activeSymbol = symbol;
    Q_EMIT activeSymbolChanged();
    Q_EMIT activeStockChanged();
    Q_EMIT alertsForActiveChanged();
}

void AppState::setSpikedSymbol(const std::optional<QString>& symbol) {
    m_spikedSymbol = symbol;
    Q_EMIT spikedSymbolChanged();
}

void AppState::setIsAfterHours(bool value) {
    m_isAfterHours = value;
    Q_EMIT isAfterHoursChanged();
}

void AppState::setLastSwipeDirection(SwipeDirection direction) {
    m_lastSwipeDirection = direction;
    Q_EMIT lastSwipeDirectionChanged();
}

void AppState::setAlertEvent(const std::optional<AlertEvent>& event) {
    m_alertEvent = event;
    Q_EMIT alertEventChanged();
}

QVariant AppState::activeSymbolValue() const {
    return optionalText(m_activeSymbol);
}

QVariant AppState::spikedSymbolValue() const {
    return optionalText(m_spikedSymbol);
}

QVariant AppState::alertEventValue() const {
    return m_alertEvent ? QVariant::fromValue(*m_alertEvent) : QVariant();
}

namespace {

Stock withoutHistory(Stock stock) {
    stock.history = {};
    return stock;
}

} // namespace

QVariant AppState::activeStockValue() const {
    const std::optional<Stock> stock = activeStock();
    return stock ? QVariant::fromValue(withoutHistory(*stock)) : QVariant();
}

QList<Stock> AppState::stocksForViews() const {
    QList<Stock> list;
    list.reserve(m_stocks.size());
    for (const Stock& stock : m_stocks)
        list.append(withoutHistory(stock));
    return list;
}

// ---- values derived for the views -------------------------------------------------------

std::optional<Stock> AppState::activeStock() const {
    const int index = activeIndex();
    if (index < 0)
        return std::nullopt;
    return m_stocks.at(index);
}

int AppState::activeIndex() const {
    if (m_stocks.isEmpty())
        return -1;
    if (m_activeSymbol) {
        for (qsizetype i = 0; i < m_stocks.size(); ++i) {
            if (m_stocks.at(i).symbol == *m_activeSymbol)
                return static_cast<int>(i);
        }
    }
    return 0;
}

QList<PriceAlert> AppState::alertsForActive() const {
    QList<PriceAlert> result;
    if (!m_activeSymbol)
        return result;
    for (const PriceAlert& alert : m_prefs->priceAlerts()) {
        if (alert.symbol == *m_activeSymbol)
            result.append(alert);
    }
    return result;
}

double AppState::portfolioDayPL() const {
    double sum = 0;
    for (const Holding& holding : m_prefs->holdings()) {
        const Stock* record = findRecord(m_stocks, holding.symbol);
        if (!record || !(record->previousClose > 0))
            continue;
        sum += holding.shares * (record->price - record->previousClose);
    }
    return sum;
}

double AppState::portfolioMarketValue() const {
    double sum = 0;
    for (const Holding& holding : m_prefs->holdings()) {
        const Stock* record = findRecord(m_stocks, holding.symbol);
        if (!record)
            continue;
        sum += holding.shares * record->price;
    }
    return sum;
}

// ---- refresh cycle and market session ---------------------------------------------------

void AppState::start() {
    prefetchLogos(m_prefs->trackedSymbols());
    runSoon([this] { refresh(); });
    m_timer = std::make_unique<RepeatingTimer>(m_clock, refreshPeriod, this, [this] { tick(); });
    updateStaleness();
    if (!m_observingActive) {
        // Every new active symbol re-arms the carousel step (consecutive duplicates skipped).
        m_observingActive = true;
        m_lastObservedActive = m_activeSymbol;
        connect(this, &AppState::activeSymbolChanged, this, &AppState::activeSymbolObserved);
    }
    scheduleRotation();
}

void AppState::tick() {
    // A change another program (or a hand edit) made to the settings file shows within a tick.
    m_prefs->reloadIfChanged();
    updateStaleness();
    refresh();
}

void AppState::refresh() {
    if (m_refreshInFlight)
        return;
    m_refreshInFlight = true;
    updateSession();
    const QStringList symbols = symbolsToFetch();
    if (symbols.isEmpty()) {
        setStocks({});
        setActiveSymbol(std::nullopt);
        m_refreshInFlight = false;
        Q_EMIT refreshFinished();
        return;
    }
    if (isFeedPaused()) {
        // No request goes out during a pause, but a symbol the user removed leaves the screen.
        const bool stale = std::any_of(m_stocks.cbegin(), m_stocks.cend(),
                                       [&](const Stock& s) { return !symbols.contains(s.symbol); });
        if (stale)
            apply({});
        m_refreshInFlight = false;
        return;
    }
    m_source->fetchBatch(symbols, this, [this](QuoteBatch batch) {
        apply(batch.quotes);
        batchFinished(batch);
        m_refreshInFlight = false;
        Q_EMIT refreshFinished();
    });
}

// ---- feed health -----------------------------------------------------------------------

QString AppState::feedStatusName(FeedStatus status) {
    switch (status) {
    case FeedStatus::paused:
        return QStringLiteral("paused");
    case FeedStatus::offline:
        return QStringLiteral("offline");
    case FeedStatus::live:
        break;
    }
    return QStringLiteral("live");
}

QString AppState::feedTroubleName() const {
    switch (m_feedTrouble) {
    case FeedTrouble::rateLimited:
        return QStringLiteral("rateLimited");
    case FeedTrouble::serverError:
        return QStringLiteral("serverError");
    case FeedTrouble::offline:
        return QStringLiteral("offline");
    case FeedTrouble::none:
        break;
    }
    return {};
}

double AppState::staleAfter(double instant) {
    return isRegularSessionOpen(instant) ? staleInSession : staleAfterHours;
}

QVariant AppState::feedResumesAtValue() const {
    return m_feedResumesAt ? QVariant(*m_feedResumesAt) : QVariant();
}

QVariant AppState::lastGoodRefreshValue() const {
    return m_lastGoodRefresh ? QVariant(*m_lastGoodRefresh) : QVariant();
}

void AppState::batchFinished(const QuoteBatch& batch) {
    const double now = m_clock->now();
    if (!batch.quotes.isEmpty()) {
        m_lastGoodRefresh = now;
        Q_EMIT lastGoodRefreshChanged();
    }
    const double pause = m_backoff.record(batch);
    const FeedTrouble trouble = m_backoff.trouble();
    m_pauseTask.cancel();
    if (trouble == FeedTrouble::none) {
        setFeed(FeedStatus::live, trouble, std::nullopt);
    } else {
        // Every request waits until the pause is over; then one refresh goes out at once and
        // the two-second cycle carries on.
        if (pause > 0)
            m_pauseTask = m_clock->schedule(pause, this, [this] { refresh(); });
        setFeed(trouble == FeedTrouble::offline ? FeedStatus::offline : FeedStatus::paused, trouble,
                now + pause);
    }
    updateStaleness();
}

void AppState::setFeed(FeedStatus status, FeedTrouble trouble, std::optional<double> resumesAt) {
    const QString source = m_source->feedSourceName();
    if (status == m_feedStatus && trouble == m_feedTrouble && resumesAt == m_feedResumesAt &&
        source == m_feedSource)
        return;
    m_feedSource = source;
    m_feedStatus = status;
    m_feedTrouble = trouble;
    m_feedResumesAt = resumesAt;
    Q_EMIT feedStatusChanged();
}

void AppState::updateStaleness() {
    const double now = m_clock->now();
    const double since = m_lastGoodRefresh.value_or(m_createdAt);
    const double age = now - since;
    const bool stale = age >= staleAfter(now);
    m_staleCheck.cancel();
    if (!stale) {
        // The earliest instant it could turn: the in-session limit; outside the session the
        // check then finds the longer limit and books itself again.
        const double next = since + (age < staleInSession ? staleInSession : staleAfterHours);
        m_staleCheck = m_clock->schedule(next - now, this, [this] { updateStaleness(); });
    }
    if (stale != m_feedStale) {
        m_feedStale = stale;
        Q_EMIT feedStaleChanged();
    }
}

void AppState::networkReachable() {
    if (m_feedStatus != FeedStatus::offline || !m_pauseTask.isPending())
        return;
    m_pauseTask.cancel();
    refresh();
}

void AppState::watchNetworkReachability() {
    // NetworkManager's backend first: it speaks D-Bus, which is loaded anyway, where the first
    // backend found by features may be the GLib one, which brings GIO and GObject along.
    if (!QNetworkInformation::instance() &&
        !QNetworkInformation::loadBackendByName(QStringLiteral("networkmanager")) &&
        !QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability))
        return; // no backend on this system: the offline pause simply runs out
    connect(QNetworkInformation::instance(), &QNetworkInformation::reachabilityChanged, this,
            [this](QNetworkInformation::Reachability reachability) {
                if (reachability == QNetworkInformation::Reachability::Online)
                    networkReachable();
            });
}

bool AppState::isSymbolSessionOpen(const QString& symbol, double instant) {
    if (!symbol.endsWith(QLatin1String("=F")))
        return isRegularSessionOpen(instant);
    if (!std::isfinite(instant) || std::fabs(instant) > 1e11)
        return false;
    static const QTimeZone newYork(QByteArrayLiteral("America/New_York"));
    const QTimeZone zone = newYork.isValid() ? newYork : QTimeZone::systemTimeZone();
    const QDateTime local =
        QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::floor(instant * 1000.0)), zone);
    const int day = local.date().dayOfWeek(); // 1 Monday .. 7 Sunday
    const int hour = local.time().hour();
    if (day == 6)
        return false;
    if (day == 7)
        return hour >= 18;
    if (day == 5)
        return hour < 17;
    return hour != 17;
}

bool AppState::isRegularSessionOpen(double instant) {
    // Beyond a few thousand years the instant has no calendar reading; count it as closed.
    if (!std::isfinite(instant) || std::fabs(instant) > 1e11)
        return false;
    static const QTimeZone newYork(QByteArrayLiteral("America/New_York"));
    const QTimeZone zone = newYork.isValid() ? newYork : QTimeZone::systemTimeZone();
    // Whole milliseconds rounded down, so 15:59:59.9999 never reads as 16:00.
    const auto msecs = static_cast<qint64>(std::floor(instant * 1000.0));
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(msecs, zone);
    if (!local.isValid())
        return false;
    const int minutes = local.time().hour() * 60 + local.time().minute();
    return nyse::isSessionOpen(local.date(), minutes);
}

void AppState::updateSession() {
    const bool open = isRegularSessionOpen(m_clock->now());
    const bool wanted = open ? false : m_prefs->showFuturesAfterHours();
    if (wanted == m_isAfterHours)
        return;
    // Records of the other mode, with their history and spike marks, are discarded.
    setIsAfterHours(wanted);
    setStocks({});
    setActiveSymbol(std::nullopt);
}

QStringList AppState::symbolsToFetch() const {
    return m_isAfterHours ? futuresSymbols() : m_prefs->trackedSymbols();
}

void AppState::apply(const QList<Quote>& quotes) {
    const double now = m_clock->now();
    const QStringList symbols = symbolsToFetch();
    QList<Stock> result;
    result.reserve(symbols.size());

    for (const QString& symbol : symbols) {
        const Quote* quote = nullptr;
        for (const Quote& q : quotes) {
            if (q.symbol == symbol) {
                quote = &q;
                break;
            }
        }
        const Stock* existing = findRecord(m_stocks, symbol);
        if (!quote) {
            // A failed fetch keeps the last record as it was.
            if (existing)
                result.append(*existing);
            continue;
        }
        const double previousPrice = existing ? existing->price : 0;

        Stock record;
        if (existing) {
            record = *existing;
        } else {
            record.symbol = quote->symbol;
        }
        record.price = quote->price;
        record.previousClose = quote->previousClose;
        record.currentVolume = quote->volume;
        record.avgVolume = quote->avgVolume;
        record.lastUpdate = now;
        if (!quote->intraday.isEmpty())
            record.intraday = quote->intraday;
        // The sample carries the day's running volume, not a per-bar volume.
        record.history.append(PricePoint{now, quote->price, quote->volume});
        const double oldest = now - historyWindow;
        record.history.removeIf([oldest](const PricePoint& p) { return p.time < oldest; });

        if (existing && previousPrice > 0)
            checkPriceAlerts(symbol, previousPrice, *quote, now);
        checkSpike(record, *quote, now);
        result.append(record);
    }

    setStocks(result);

    if (!m_activeSymbol && !result.isEmpty())
        setActiveSymbol(result.first().symbol);
    if (m_activeSymbol && !findRecord(result, *m_activeSymbol)) {
        setActiveSymbol(result.isEmpty() ? std::nullopt
                                         : std::optional<QString>(result.first().symbol));
    }
}

// ---- spikes and price alerts -----------------------------------------------------------

void AppState::checkPriceAlerts(const QString& symbol, double previousPrice, const Quote& quote,
                                double now) {
    QList<PriceAlert> alerts;
    for (const PriceAlert& alert : m_prefs->priceAlerts()) {
        if (alert.symbol == symbol)
            alerts.append(alert);
    }
    const double newPrice = quote.price;
    for (const PriceAlert& alert : alerts) {
        const double level = alert.price;
        // Starting on the level is no crossing; ending on it is.
        const bool fires = alert.direction == PriceAlert::Direction::above
                               ? previousPrice < level && newPrice >= level
                               : previousPrice > level && newPrice <= level;
        if (!fires)
            continue;
        m_prefs->markAlertTriggered(alert.id, now);
        fireAlert(AlertEvent{QUuid::createUuid(), symbol,
                             AlertEvent::Reason::priceCross(level, alert.direction),
                             directionOf(quote), now});
        jumpTo(symbol);
    }
}

void AppState::checkSpike(Stock& record, const Quote& quote, double now) {
    const bool coolDownOver = !record.lastSpikeAt || now - *record.lastSpikeAt > spikeCoolDown;
    const double dayMove =
        quote.previousClose > 0
            ? std::fabs((quote.price - quote.previousClose) / quote.previousClose * 100.0)
            : 0.0;
    const double windowMove = record.windowChangePercent();
    const double ratio = record.volumeRatio();
    const bool volumeSurge =
        quote.avgVolume > 0
            ? quote.volume > volumeMultiple * quote.avgVolume || ratio >= barVolumeRatio
            : ratio >= barVolumeRatio;
    const bool triggered =
        dayMove >= dayMoveThreshold || std::fabs(windowMove) >= windowMoveThreshold || volumeSurge;
    if (!triggered || !coolDownOver)
        return;
    record.lastSpikeAt = now;
    setSpikedSymbol(record.symbol);
    fireAlert(AlertEvent{QUuid::createUuid(), record.symbol, AlertEvent::Reason::spike(),
                         directionOf(quote), now});
    jumpTo(record.symbol);
}

void AppState::fireAlert(const AlertEvent& event) {
    setAlertEvent(event);
    m_alertClearTask.cancel();
    const QUuid id = event.id;
    // Clears only its own event: a newer one always gets its full display time.
    m_alertClearTask = m_clock->schedule(alertDisplayTime, this, [this, id] {
        if (m_alertEvent && m_alertEvent->id == id)
            setAlertEvent(std::nullopt);
    });
}

void AppState::jumpTo(const QString& symbol) {
    setLastSwipeDirection(SwipeDirection::left);
    setActiveSymbol(symbol);
}

// ---- carousel --------------------------------------------------------------------------

int AppState::currentIndex() const {
    if (m_stocks.isEmpty())
        return -1;
    const QString current = m_activeSymbol.value_or(m_stocks.first().symbol);
    for (qsizetype i = 0; i < m_stocks.size(); ++i) {
        if (m_stocks.at(i).symbol == current)
            return static_cast<int>(i);
    }
    return -1;
}

void AppState::activeSymbolObserved() {
    if (m_lastObservedActive == m_activeSymbol)
        return;
    m_lastObservedActive = m_activeSymbol;
    scheduleRotation();
}

void AppState::scheduleRotation() {
    m_rotationWorkItem.cancel();
    m_rotationWorkItem = ScheduledTask();
    if (m_rotationSuspended)
        return;
    m_rotationWorkItem = m_clock->schedule(rotationDelay, this, [this] { rotateNext(); });
}

void AppState::rotateNext() {
    const qsizetype count = m_stocks.size();
    if (count < 2)
        return;
    const int i = currentIndex();
    if (i < 0)
        return;
    setLastSwipeDirection(SwipeDirection::left);
    setActiveSymbol(m_stocks.at((i + 1) % count).symbol);
}

void AppState::suspendRotation() {
    m_rotationSuspended = true;
    m_rotationWorkItem.cancel();
    m_rotationWorkItem = ScheduledTask();
}

void AppState::resumeRotation() {
    m_rotationSuspended = false;
    scheduleRotation();
}

void AppState::swipe(SwipeDirection direction) {
    const qsizetype count = m_stocks.size();
    if (count < 2)
        return;
    const int i = currentIndex();
    if (i < 0)
        return;
    switch (direction) {
    case SwipeDirection::left:
        setLastSwipeDirection(SwipeDirection::left);
        setActiveSymbol(m_stocks.at((i + 1) % count).symbol);
        break;
    case SwipeDirection::right:
        setLastSwipeDirection(SwipeDirection::right);
        setActiveSymbol(m_stocks.at((i - 1 + count) % count).symbol);
        break;
    case SwipeDirection::none:
        break;
    }
}

void AppState::removeActive() {
    if (!m_activeSymbol)
        return;
    const QString symbol = *m_activeSymbol;
    qsizetype index = -1;
    for (qsizetype i = 0; i < m_stocks.size(); ++i) {
        if (m_stocks.at(i).symbol == symbol) {
            index = i;
            break;
        }
    }

    QStringList tracked = m_prefs->trackedSymbols();
    tracked.removeAll(symbol);
    m_prefs->setTrackedSymbols(tracked);

    QList<Stock> remaining = m_stocks;
    remaining.removeIf([&symbol](const Stock& s) { return s.symbol == symbol; });
    setStocks(remaining);

    if (remaining.isEmpty()) {
        setActiveSymbol(std::nullopt);
    } else if (index < 0) {
        setActiveSymbol(remaining.first().symbol);
    } else {
        setLastSwipeDirection(SwipeDirection::left);
        setActiveSymbol(remaining.at(std::min(index, remaining.size() - 1)).symbol);
    }
}

} // namespace velline
