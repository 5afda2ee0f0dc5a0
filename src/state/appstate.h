#pragma once

#include "clock/clock.h"
#include "market/feedbackoff.h"
#include "market/quotesource.h"
#include "market/stock.h"
#include "prefs/records.h"
#include "state/alertevent.h"
#include "state/swipedirection.h"

#include <QList>
#include <QObject>
#include <QStringList>
#include <QVariant>
#include <QtQmlIntegration/qqmlintegration.h>

#include <functional>
#include <memory>
#include <optional>

class QQmlEngine;
class QJSEngine;

namespace velline {

class UserPreferences;
class StreamingQuoteSource;

// Fire-and-forget request to load the logo of one symbol.
using LogoPrefetch = std::function<void(const QString& symbol)>;

// The one observable runtime state: the records on screen and which one is active, the
// futures mode, and the alert being shown. Runs the two-second refresh cycle, spike and
// price-alert detection, and the carousel. Main thread only.
//
// Every published field notifies on each assignment, also when the value is unchanged, so a
// view can react to "the same symbol fired again".
class AppState : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    // The views' copies carry no price history (only the spike check reads it): a copy that a
    // view holds until the script engine collects it then keeps no 600-sample list alive, and
    // the next merge appends to a history nobody else shares.
    Q_PROPERTY(QList<velline::Stock> stocks READ stocksForViews NOTIFY stocksChanged)
    // Symbols of `stocks`, in carousel order.
    Q_PROPERTY(QStringList symbols READ symbols NOTIFY stocksChanged)
    // Optional strings read as null in QML when absent.
    Q_PROPERTY(QVariant activeSymbol READ activeSymbolValue NOTIFY activeSymbolChanged)
    Q_PROPERTY(QVariant spikedSymbol READ spikedSymbolValue NOTIFY spikedSymbolChanged)
    Q_PROPERTY(bool isAfterHours READ isAfterHours NOTIFY isAfterHoursChanged)
    Q_PROPERTY(velline::carousel::SwipeDirection lastSwipeDirection READ lastSwipeDirection NOTIFY
                   lastSwipeDirectionChanged)
    Q_PROPERTY(QVariant alertEvent READ alertEventValue NOTIFY alertEventChanged)
    // Derived values for the views.
    Q_PROPERTY(QVariant activeStock READ activeStockValue NOTIFY activeStockChanged)
    Q_PROPERTY(int activeIndex READ activeIndex NOTIFY activeStockChanged)
    Q_PROPERTY(QList<velline::PriceAlert> alertsForActive READ alertsForActive NOTIFY
                   alertsForActiveChanged)
    Q_PROPERTY(double portfolioDayPL READ portfolioDayPL NOTIFY portfolioChanged)
    Q_PROPERTY(double portfolioMarketValue READ portfolioMarketValue NOTIFY portfolioChanged)
    // The quote feed: live, paused (it asked for fewer requests or keeps failing; feedResumesAt
    // says when the next request goes out) or offline (no answer at all; retried at
    // feedResumesAt, or at once when the network comes back). These notify on change only.
    Q_PROPERTY(velline::AppState::FeedStatus feedStatus READ feedStatus NOTIFY feedStatusChanged)
    Q_PROPERTY(QString feedStatusName READ feedStatusName NOTIFY feedStatusChanged)
    // "rateLimited", "serverError", "offline" or "" while live.
    Q_PROPERTY(QString feedTroubleName READ feedTroubleName NOTIFY feedStatusChanged)
    // Where prices come from: "stream" or "poll".
    Q_PROPERTY(QString feedSourceName READ feedSourceName NOTIFY feedStatusChanged)
    // Unix seconds, or null while live.
    Q_PROPERTY(QVariant feedResumesAt READ feedResumesAtValue NOTIFY feedStatusChanged)
    // When the last refresh that brought at least one quote finished (Unix seconds), or null.
    Q_PROPERTY(QVariant lastGoodRefresh READ lastGoodRefreshValue NOTIFY lastGoodRefreshChanged)
    // No good refresh for staleAfter() seconds (since start, or since the last good one).
    Q_PROPERTY(bool feedStale READ isFeedStale NOTIFY feedStaleChanged)

public:
    enum class FeedStatus { live, paused, offline };
    Q_ENUM(FeedStatus)
    // How long without a good refresh before the notch says so: in the regular session, and
    // outside it (quotes move less, and some feeds answer less often).
    static constexpr double staleInSession = 30.0;
    static constexpr double staleAfterHours = 60.0;
    static double staleAfter(double instant);
    static QString feedStatusName(FeedStatus status);

    static constexpr double refreshPeriod = 2.0;
    static constexpr double historyWindow = 1200.0;
    static constexpr double rotationDelay = 10.0;
    static constexpr double alertDisplayTime = 4.0;
    static constexpr double spikeCoolDown = 600.0;     // strict: more than this must pass
    static constexpr double dayMoveThreshold = 2.0;    // percent, inclusive
    static constexpr double windowMoveThreshold = 1.0; // percent, inclusive
    static constexpr double volumeMultiple = 2.0;      // strict, against avgVolume
    static constexpr double barVolumeRatio = 3.0;      // inclusive

    // The six futures shown after the regular session, in carousel order.
    static const QStringList& futuresSymbols();

    // Everything is injected so tests can drive time and quotes. Subscribes to the
    // preferences at once; the tracked list in force now is delivered on the next turn of the
    // event loop (clock job), after the constructor has returned.
    AppState(UserPreferences* prefs, QuoteSource* source, Clock* clock, LogoPrefetch prefetch,
             QObject* parent = nullptr);
    ~AppState() override;

    // The process-wide state on the shared preferences, the shared chart-feed client and the
    // real clock. Logos are prefetched through setSharedLogoPrefetch(), which the program
    // calls before first use (the logo cache lives in a library that depends on this one).
    static AppState& shared();
    // The process-wide quote source: the streamer (VELLINE_STREAM_URL, else the feed's own)
    // with the shared chart-feed client for bars and fallback, on the real clock.
    static StreamingQuoteSource& sharedQuoteSource();
    // Whether `symbol` trades at `instant`: futures ("=F") from Sunday 18:00 to Friday 17:00
    // New York time except the daily hour from 17:00, everything else in the regular session.
    static bool isSymbolSessionOpen(const QString& symbol, double instant);
    static void setSharedLogoPrefetch(LogoPrefetch prefetch);
    static AppState* create(QQmlEngine*, QJSEngine*);

    // Prefetches logos, starts the first refresh, the two-second timer and the carousel.
    Q_INVOKABLE void start();
    // One refresh cycle; a call while one is running is dropped.
    Q_INVOKABLE void refresh();

    // Published fields.
    const QList<Stock>& stocks() const { return m_stocks; }
    QStringList symbols() const;
    std::optional<QString> activeSymbol() const { return m_activeSymbol; }
    std::optional<QString> spikedSymbol() const { return m_spikedSymbol; }
    bool isAfterHours() const { return m_isAfterHours; }
    SwipeDirection lastSwipeDirection() const { return m_lastSwipeDirection; }
    std::optional<AlertEvent> alertEvent() const { return m_alertEvent; }

    // Assignments; each one notifies.
    void setStocks(const QList<Stock>& stocks);
    void setActiveSymbol(const std::optional<QString>& symbol);
    void setLastSwipeDirection(SwipeDirection direction);

    // The record of the active symbol, else the first record; absent without records.
    std::optional<Stock> activeStock() const;
    // Index of activeStock in `stocks`, -1 without records.
    int activeIndex() const;
    // The user's alerts on the active symbol, in stored order.
    QList<PriceAlert> alertsForActive() const;
    // Sum of shares x (price - previousClose) over holdings with a record that has a close.
    double portfolioDayPL() const;
    // Sum of shares x price over holdings with a record.
    double portfolioMarketValue() const;

    // Market session: weekdays 09:30 to 16:00 New York time, without the exchange's holidays
    // and with its 13:00 early closes.
    static bool isRegularSessionOpen(double instant);
    void updateSession();
    QStringList symbolsToFetch() const;
    // Merges fetched quotes into the records (alert and spike checks included).
    void apply(const QList<Quote>& quotes);

    // Alerts.
    void fireAlert(const AlertEvent& event);

    // Carousel.
    void scheduleRotation();
    void rotateNext();
    Q_INVOKABLE void suspendRotation();
    Q_INVOKABLE void resumeRotation();
    Q_INVOKABLE void swipe(velline::carousel::SwipeDirection direction);
    Q_INVOKABLE void removeActive();

    // Feed health.
    FeedStatus feedStatus() const { return m_feedStatus; }
    QString feedStatusName() const { return feedStatusName(m_feedStatus); }
    FeedTrouble feedTrouble() const { return m_feedTrouble; }
    QString feedTroubleName() const;
    QString feedSourceName() const { return m_feedSource; }
    std::optional<double> feedResumesAt() const { return m_feedResumesAt; }
    std::optional<double> lastGoodRefresh() const { return m_lastGoodRefresh; }
    bool isFeedStale() const { return m_feedStale; }
    // True while no request may go out (a pause is running).
    bool isFeedPaused() const { return m_pauseTask.isPending(); }
    // The system reports the network reachable again: an offline pause ends at once.
    Q_INVOKABLE void networkReachable();
    // Follows the system's network reachability (QNetworkInformation) where a backend exists.
    void watchNetworkReachability();

    // For tests and tools.
    bool isRefreshInFlight() const { return m_refreshInFlight; }
    bool isRotationSuspended() const { return m_rotationSuspended; }
    bool isRotationArmed() const { return m_rotationWorkItem.isPending(); }
    bool isStarted() const { return m_timer != nullptr; }
    FeedBackoff& feedBackoff() { return m_backoff; }
    UserPreferences* prefs() const { return m_prefs; }
    Clock* clock() const { return m_clock; }

Q_SIGNALS:
    void stocksChanged();
    void activeSymbolChanged();
    void spikedSymbolChanged();
    void isAfterHoursChanged();
    void lastSwipeDirectionChanged();
    void alertEventChanged();
    void activeStockChanged();
    void alertsForActiveChanged();
    void portfolioChanged();
    // A refresh cycle ended (after its merge, or at once for an empty symbol list).
    void refreshFinished();
    void feedStatusChanged();
    void lastGoodRefreshChanged();
    void feedStaleChanged();

private:
    QVariant activeSymbolValue() const;
    QVariant spikedSymbolValue() const;
    QVariant alertEventValue() const;
    QVariant activeStockValue() const;
    QList<Stock> stocksForViews() const;
    void setSpikedSymbol(const std::optional<QString>& symbol);
    void setIsAfterHours(bool value);
    void setAlertEvent(const std::optional<AlertEvent>& event);
    void trackedSymbolsDelivered(const QStringList& symbols);
    void prefetchLogos(const QStringList& symbols);
    void runSoon(std::function<void()> job);
    void jumpTo(const QString& symbol);
    void checkPriceAlerts(const QString& symbol, double previousPrice, const Quote& quote,
                          double now);
    void checkSpike(Stock& record, const Quote& quote, double now);
    void activeSymbolObserved();
    // Index of the current symbol (active, else the first) in `stocks`, or -1.
    int currentIndex() const;
    void tick();
    void batchFinished(const QuoteBatch& batch);
    void setFeed(FeedStatus status, FeedTrouble trouble, std::optional<double> resumesAt);
    // Re-evaluates feedStale now and books the next check for the instant it would turn.
    void updateStaleness();
    QVariant feedResumesAtValue() const;
    QVariant lastGoodRefreshValue() const;

    UserPreferences* m_prefs;
    QuoteSource* m_source;
    Clock* m_clock;
    LogoPrefetch m_prefetch;

    QList<Stock> m_stocks;
    std::optional<QString> m_activeSymbol;
    std::optional<QString> m_spikedSymbol;
    bool m_isAfterHours = false;
    SwipeDirection m_lastSwipeDirection = SwipeDirection::left;
    std::optional<AlertEvent> m_alertEvent;

    ScheduledTask m_alertClearTask;
    std::unique_ptr<RepeatingTimer> m_timer;
    ScheduledTask m_rotationWorkItem;
    bool m_rotationSuspended = false;
    bool m_refreshInFlight = false;

    FeedBackoff m_backoff;
    FeedStatus m_feedStatus = FeedStatus::live;
    FeedTrouble m_feedTrouble = FeedTrouble::none;
    std::optional<double> m_feedResumesAt;
    QString m_feedSource;
    std::optional<double> m_lastGoodRefresh;
    double m_createdAt = 0; // staleness counts from here until the first good refresh
    bool m_feedStale = false;
    ScheduledTask m_pauseTask;
    ScheduledTask m_staleCheck;
    // The active-symbol subscription (set up by start) skips consecutive duplicates.
    bool m_observingActive = false;
    std::optional<QString> m_lastObservedActive;
};

} // namespace velline
