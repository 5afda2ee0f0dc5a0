#pragma once

#include "clock/clock.h"
#include "market/feedbackoff.h"
#include "market/quotesource.h"
#include "market/stockservice.h"
#include "market/streamwire.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <limits>
#include <optional>
#include <vector>

class QWebSocket;

namespace velline {

// Quotes from the feed's streamer, with the day's bars from the chart endpoint.
//
// One WebSocket carries the prices of every symbol asked for (subscribed when first asked,
// unsubscribed when no longer asked, the whole list sent again every heartbeat). The chart
// endpoint brings each symbol's bars and previous close: at start, after a reconnect, then once
// per bar period in the symbol's session (staggered, so ten symbols make one request every
// 30 s) and every half hour outside it. Between two chart answers the unfinished bar is built
// from the stream.
//
// When the stream cannot be had for fallbackAfter seconds, prices come from the multi-symbol
// endpoint every sparkPeriod seconds, and where that fails too, from the chart endpoint one
// symbol at a time (the focus symbol first), at most one request every chartPollSpacing
// seconds. A symbol the stream leaves silent for symbolSilence seconds in its session is taken
// from the chart endpoint alone until the stream speaks of it again. Every HTTP request waits
// out the feed's back-off; the stream keeps running meanwhile.
//
// fetchBatch() answers on the next turn of the event loop from what is known by then (before
// anything is known of some of its symbols, once each has a price or a failure): a quote
// for every symbol with a current price, a failure for a symbol whose last request failed and
// that the stream does not cover.
class StreamingQuoteSource : public QObject, public QuoteSource {
    Q_OBJECT

public:
    static constexpr double heartbeatPeriod = 15.0;
    static constexpr double openTimeout = 10.0;
    static constexpr double reconnectFirst = 1.0;
    static constexpr double reconnectMax = 60.0;
    static constexpr double reconnectJitter = 0.2; // each delay spread by this share either way
    static constexpr double symbolSilence = 60.0;
    static constexpr double connectionSilence = 30.0;
    static constexpr double fallbackAfter = 120.0;
    static constexpr double sparkPeriod = 5.0;
    static constexpr int sparkFailuresBeforeChart = 2;
    static constexpr double sparkRetryPeriod = 60.0; // tried again while polling the chart
    static constexpr double chartPollSpacing = 2.0;
    static constexpr double silentPollPeriod = 30.0; // per silent symbol
    static constexpr double barPeriodInSession = 300.0;
    static constexpr double barPeriodOutside = 1800.0;
    static constexpr double barLength = 300.0;
    // A bar fetch after a reconnect is skipped for a symbol fetched this recently.
    static constexpr double barsFreshAfterReconnect = 60.0;
    // A polled price older than this is no longer offered as current.
    static constexpr double polledPriceLife = 120.0;
    static constexpr int maxSubscribed = 100;

    // Whether `symbol` trades at `instant` (Unix seconds).
    using SessionRule = std::function<bool(const QString& symbol, double instant)>;

    enum class PriceSource {
        waiting, // the stream is being dialled; prices come with the bars
        stream,
        spark, // the multi-symbol endpoint
        chart, // the chart endpoint, symbol by symbol
    };
    Q_ENUM(PriceSource)

    // An empty `streamUrl` means no stream: prices are polled from the start. Requests go
    // through `http` (not owned).
    StreamingQuoteSource(const QUrl& streamUrl, StockService* http, Clock* clock,
                         SessionRule inSession, QObject* parent = nullptr);
    ~StreamingQuoteSource() override;

    void fetchQuotes(const QStringList& symbols, QObject* context,
                     std::function<void(QList<Quote>)> done) override;
    void fetchBatch(const QStringList& symbols, QObject* context,
                    std::function<void(QuoteBatch)> done) override;
    QString feedSourceName() const override;

    // The symbol on screen: polled first when prices come symbol by symbol.
    void setFocusSymbol(const QString& symbol);
    // The system reports the network reachable again: a waiting reconnect is made at once.
    void networkReachable();
    // Follows QNetworkInformation's reachability when a backend is already loaded.
    void watchNetworkReachability();
    // The spread of reconnect delays and rate-limit pauses: a number in [0, 1), 0.5 = none.
    void setRandom(std::function<double()> random);

    PriceSource priceSource() const { return m_priceSource; }
    bool isStreamOpen() const { return m_open; }
    QStringList subscribedSymbols() const { return m_subscribed; }
    int connectionsOpened() const { return m_connectionsOpened; }
    int droppedFrames() const { return m_droppedFrames; }
    // When the next reconnect is due (Unix seconds), or nothing while none waits.
    std::optional<double> reconnectAt() const { return m_reconnectAt; }
    // When HTTP requests may go out again, or nothing while they are not paused.
    std::optional<double> requestsResumeAt() const;

    // True when `symbol` can be sent in a subscribe frame: 1 to 32 printable ASCII characters
    // without quotes, backslashes, commas or spaces.
    static bool isStreamable(const QString& symbol);

Q_SIGNALS:
    void priceSourceChanged();
    // A pushed price was taken for `symbol`.
    void streamedPrice(const QString& symbol);
    // The socket opened (subscribe sent) or closed.
    void streamOpenChanged();

private:
    struct SymbolState {
        double price = 0;
        qint64 priceTimeMs = 0;    // of the price: the record's time, or the answer's
        double priceAt = -1;       // clock time the price arrived
        bool streamed = false;     // the price came from the stream
        double dayVolume = 0;      // the stream's or the chart's, whichever is newer
        double previousClose = 0;  // the chart's; the stream's only until the chart answers
        bool chartClose = false;   // previousClose came from the chart
        QList<PricePoint> bars;    // from the last chart answer
        double barsAt = -1;        // clock time of the last chart answer
        double nextBarsAt = 0;     // when the next chart request for bars is due
        bool burst = false;        // that request is one of a burst (start, reconnect)
        double barSlot = -1;       // start of the bar the stream is building
        double barBaseVolume = 0;  // day volume at that bar's start
        double lastMessageAt = -1; // clock time of the last stream message
        double subscribedAt = -1;  // clock time of the subscribe on this connection
        double lastPollAt = -std::numeric_limits<double>::infinity();
        std::optional<QuoteFailure> failure; // of the last price request, cleared by a price
    };

    // Symbols and connection.
    void want(const QStringList& symbols);
    void dial();
    void dropSocket();
    void opened();
    void closed();
    void frameArrived(const QString& frame);
    void scheduleReconnect();
    void subscribe(const QStringList& symbols);
    void heartbeat();
    void armWatchdog();
    void watchdog();
    void setPriceSource(PriceSource source);
    bool coveredByStream(const QString& symbol, const SymbolState& state) const;
    bool isSilent(const QString& symbol, const SymbolState& state, double now) const;
    bool anyInSession(double now) const;
    double spread(double value, double share) const;

    // HTTP work.
    void pump();
    void fetchBars(const QString& symbol, double due, bool poll);
    void fetchSpark();
    void chartAnswered(const QString& symbol, const QuoteResult& result, double due, bool poll);
    void sparkAnswered(const StockService::SparkAnswer& answer, const QStringList& asked);
    void requestFinished(bool anyPrice, const QList<SymbolFailure>& failures);
    double nextBarsDue(double due, const QString& symbol) const;
    void scheduleAllBars(double now, bool onlyStale);
    void takePolledPrice(SymbolState& state, double price, qint64 timeMs, double now);
    bool allKnown(const QStringList& symbols) const;
    void answerWaiting(bool all);
    Quote quoteOf(const QString& symbol, const SymbolState& state, double now) const;

    QUrl m_url;
    StockService* m_http;
    Clock* m_clock;
    SessionRule m_inSession;
    std::function<double()> m_random;

    QStringList m_wanted;
    QHash<QString, SymbolState> m_symbols;
    QString m_focus;

    QWebSocket* m_socket = nullptr;
    bool m_open = false;
    bool m_everOpened = false;
    QStringList m_subscribed; // on this connection
    int m_slotsUsed = 0;      // the streamer counts every symbol ever subscribed on a connection
    double m_openedAt = 0;
    double m_lastFrameAt = 0;
    double m_downSince = 0;
    bool m_heardOnConnection = false;
    int m_reconnectStreak = 0;
    int m_connectionsOpened = 0;
    int m_droppedFrames = 0;
    std::optional<double> m_reconnectAt;
    ScheduledTask m_reconnectTask;
    ScheduledTask m_openTimeoutTask;
    ScheduledTask m_watchdogTask;
    ScheduledTask m_fallbackTask;
    std::unique_ptr<RepeatingTimer> m_heartbeat;
    PriceSource m_priceSource = PriceSource::waiting;

    FeedBackoff m_httpBackoff;
    double m_httpPausedUntil = 0;
    bool m_requestInFlight = false;
    double m_lastChartPollAt = -std::numeric_limits<double>::infinity();
    double m_nextSparkAt = 0;
    int m_sparkFailures = 0;
    ScheduledTask m_pumpTask;
    struct Waiting {
        QStringList symbols;
        std::function<void()> answer;
    };
    std::vector<Waiting> m_waiting; // answers held until their symbols are known
    ScheduledTask m_waitingTask;
    double m_pumpAt = 0;
};

} // namespace velline
