#pragma once

#include "market/quotesource.h"
#include "market/sparkfeed.h"

#include <QObject>
#include <QPointer>
#include <QUrl>

#include <deque>
#include <functional>

class QNetworkAccessManager;

namespace velline {

class Clock;

// Client of the public chart feed: one GET per symbol, decoded into a Quote.
//
// Every call is queued and runs only after the previous one has finished, so at most one
// request is in flight. Each request has an overall limit of requestTimeoutSeconds (a stalled
// or trickling server fails the request, it never hangs the queue). Callbacks run on the
// thread that owns the service (the main thread) and are dropped when their context object
// is destroyed; a call whose context is gone before it starts sends nothing.
class StockService : public QObject, public QuoteSource {
    Q_OBJECT

public:
    using Quote = velline::Quote;
    using StockError = velline::StockError;

    static constexpr double requestTimeoutSeconds = 8.0;
    // Bodies larger than this are refused as undecodable, without being kept in memory.
    static constexpr qint64 maxBodyBytes = 4 * 1024 * 1024;
    // How much of an answer the network layer may buffer ahead of the reader.
    static constexpr qint64 readAheadBytes = 64 * 1024;
    static constexpr const char* userAgent =
        "Mozilla/5.0 (Macintosh; Intel Mac OS X 14_0) Velline/1.0";
    static constexpr const char* defaultBaseUrl = "https://query1.finance.yahoo.com";

    // `baseUrl` is scheme, host and port (a path prefix is allowed); `clock` times requests.
    StockService(const QUrl& baseUrl, Clock* clock, QObject* parent = nullptr);
    ~StockService() override;

    // The process-wide instance, created on first use on the real clock. Its base address
    // is VELLINE_CHART_FEED_URL when set, else defaultBaseUrl (read once).
    static StockService& shared();
    // The base address the environment asks for (VELLINE_CHART_FEED_URL or the default).
    static QUrl configuredBaseUrl();

    QUrl baseUrl() const { return m_baseUrl; }

    // One request for one symbol.
    void fetchQuote(const QString& symbol, QObject* context, std::function<void(QuoteResult)> done);
    // Strictly one request after another; failures are dropped. An empty list sends nothing.
    void fetchQuotes(const QStringList& symbols, QObject* context,
                     std::function<void(QList<Quote>)> done) override;
    // The same, with the failures reported. A 429 or 503 answer ends the batch at once: the
    // feed asked for fewer requests, so the remaining symbols are not requested.
    void fetchBatch(const QStringList& symbols, QObject* context,
                    std::function<void(QuoteBatch)> done) override;

    // One request for the prices of all `symbols` on the multi-symbol endpoint, queued like
    // every other call.
    struct SparkAnswer {
        QList<SparkQuote> quotes;
        std::optional<QuoteFailure> failure; // set when the request as a whole failed
    };
    void fetchSpark(const QStringList& symbols, QObject* context,
                    std::function<void(SparkAnswer)> done);

    // Number of calls waiting or running (for tests).
    int queuedCalls() const;

private:
    struct Call {
        QPointer<QObject> context;
        bool hadContext = false;
        std::function<void()> start;
    };
    bool contextAlive(const Call& call) const { return !call.hadContext || call.context; }
    void enqueue(QObject* context, std::function<void()> start);
    void startNext();
    void finishCall();
    void request(const QString& symbol, std::function<void(QuoteResult)> done);
    // One GET; `done` gets the failure, or nothing and the body to decode.
    void get(const QUrl& url, std::function<void(const QuoteFailure*, const QByteArray&)> done);
    void runBatch(QStringList symbols, QPointer<QObject> context, bool hadContext,
                  std::function<void(QuoteBatch)> done, QuoteBatch collected);

    QUrl m_baseUrl;
    Clock* m_clock;
    QNetworkAccessManager* m_network;
    std::deque<Call> m_queue;
    bool m_running = false; // a call runs or the next one is about to start
    bool m_active = false;  // a call has started and not finished
};

} // namespace velline
