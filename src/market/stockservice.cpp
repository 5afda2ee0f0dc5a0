#include "market/stockservice.h"

#include "clock/clock.h"
#include "market/chartfeed.h"
#include "market/feedbackoff.h"
#include "market/sparkfeed.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <memory>
#include <utility>

namespace velline {

StockService::StockService(const QUrl& baseUrl, Clock* clock, QObject* parent)
    : QObject(parent), m_baseUrl(baseUrl), m_clock(clock),
      m_network(new QNetworkAccessManager(this)) {
    // Ephemeral: the manager has no disk cache unless one is set, and its cookie jar lives
    // in memory. Redirects follow Qt's default (never from https to http).
}

StockService::~StockService() = default;

QUrl StockService::configuredBaseUrl() {
    const QByteArray env = qgetenv("VELLINE_CHART_FEED_URL");
    const QString text =
        env.trimmed().isEmpty() ? QString::fromLatin1(defaultBaseUrl) : QString::fromUtf8(env);
    return QUrl(text.trimmed(), QUrl::StrictMode);
}

StockService& StockService::shared() {
    // Lives until the process ends; never destroyed.
    static StockService* instance = new StockService(configuredBaseUrl(), Clock::system());
    return *instance;
}

int StockService::queuedCalls() const {
    return static_cast<int>(m_queue.size()) + (m_active ? 1 : 0);
}

void StockService::enqueue(QObject* context, std::function<void()> start) {
    m_queue.push_back(Call{context, context != nullptr, std::move(start)});
    if (!m_running) {
        // Start on the next event-loop turn so that callbacks never run inside the call.
        m_running = true;
        QMetaObject::invokeMethod(
            this, [this] { startNext(); }, Qt::QueuedConnection);
    }
}

void StockService::startNext() {
    while (!m_queue.empty()) {
        Call call = std::move(m_queue.front());
        m_queue.pop_front();
        if (!contextAlive(call))
            continue; // nobody waits for it: send nothing
        m_active = true;
        call.start();
        return;
    }
    m_running = false;
}

void StockService::finishCall() {
    m_active = false;
    // Post rather than recurse, so a long queue of instant failures cannot deepen the stack.
    QMetaObject::invokeMethod(
        this, [this] { startNext(); }, Qt::QueuedConnection);
}

void StockService::fetchQuote(const QString& symbol, QObject* context,
                              std::function<void(QuoteResult)> done) {
    QPointer<QObject> guard(context);
    const bool hadContext = context != nullptr;
    enqueue(context, [this, symbol, guard, hadContext, done = std::move(done)] {
        request(symbol, [this, guard, hadContext, done](QuoteResult result) {
            if (!hadContext || guard)
                done(std::move(result));
            finishCall();
        });
    });
}

void StockService::fetchQuotes(const QStringList& symbols, QObject* context,
                               std::function<void(QList<Quote>)> done) {
    fetchBatch(symbols, context,
               [done = std::move(done)](QuoteBatch batch) { done(std::move(batch.quotes)); });
}

void StockService::fetchBatch(const QStringList& symbols, QObject* context,
                              std::function<void(QuoteBatch)> done) {
    QPointer<QObject> guard(context);
    const bool hadContext = context != nullptr;
    enqueue(context, [this, symbols, guard, hadContext, done = std::move(done)] {
        runBatch(symbols, guard, hadContext, done, {});
    });
}

void StockService::runBatch(QStringList symbols, QPointer<QObject> context, bool hadContext,
                            std::function<void(QuoteBatch)> done, QuoteBatch collected) {
    if (hadContext && !context) {
        finishCall(); // the caller is gone: stop sending
        return;
    }
    if (symbols.isEmpty()) {
        done(std::move(collected));
        finishCall();
        return;
    }
    const QString symbol = symbols.takeFirst();
    ++collected.attempted;
    request(symbol, [this, symbol, symbols, context, hadContext, done,
                     collected = std::move(collected)](QuoteResult result) mutable {
        if (result.ok()) {
            collected.quotes.append(std::move(result.quote()));
        } else {
            const int status = result.failure().httpStatus;
            collected.failures.append(SymbolFailure{symbol, result.failure()});
            if (status == 429 || status == 503)
                symbols.clear(); // asked to slow down: the rest of the batch waits
        }
        runBatch(std::move(symbols), context, hadContext, std::move(done), std::move(collected));
    });
}

namespace {

constexpr char rateLimitText[] = "Edge: Too Many Requests";

// Per-request bookkeeping shared by the reply's handlers.
struct Transfer {
    QByteArray body;
    ScheduledTask deadline;
    bool timedOut = false;
    bool oversized = false;
    bool finished = false;
};

// Why the exchange gave no usable body, or nothing when the body is the answer to decode.
std::optional<QuoteFailure> classify(QNetworkReply* reply, const Transfer& t, double now) {
    const auto failed = [](StockError error, QString detail) {
        return QuoteFailure{error, std::move(detail), 0, std::nullopt};
    };
    if (t.timedOut)
        return failed(StockError::transport, QStringLiteral("no complete answer within %1 s")
                                                 .arg(StockService::requestTimeoutSeconds));
    if (t.oversized)
        return failed(
            StockError::decoding,
            QStringLiteral("answer larger than %1 bytes").arg(StockService::maxBodyBytes));
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid()) {
        const int code = status.toInt();
        // The feed's edge answers a rate limit with this short text instead of JSON, and
        // without Retry-After; whatever the status, it is a request to slow down.
        if (t.body.trimmed().startsWith(rateLimitText)) {
            QuoteFailure failure{StockError::badResponse,
                                 QStringLiteral("HTTP %1: %2").arg(code).arg(rateLimitText), 429,
                                 std::nullopt};
            if (reply->hasRawHeader("Retry-After"))
                failure.retryAfter = parseRetryAfter(reply->rawHeader("Retry-After"), now);
            return failure;
        }
        if (code < 200 || code > 299) {
            QString detail = QStringLiteral("HTTP %1").arg(code);
            // The feed explains some refusals ("No data found, symbol may be delisted").
            if (const auto answer = YahooChartResponse::decode(t.body);
                answer && answer->chart.error && answer->chart.error->description)
                detail += QStringLiteral(": ") + *answer->chart.error->description;
            QuoteFailure failure{StockError::badResponse, detail, code, std::nullopt};
            if (reply->hasRawHeader("Retry-After"))
                failure.retryAfter = parseRetryAfter(reply->rawHeader("Retry-After"), now);
            return failure;
        }
    }
    if (reply->error() != QNetworkReply::NoError)
        return failed(StockError::transport, reply->errorString());
    if (!status.isValid())
        return failed(StockError::badResponse, QStringLiteral("not an HTTP answer"));
    return std::nullopt;
}

} // namespace

void StockService::request(const QString& symbol, std::function<void(QuoteResult)> done) {
    get(chartUrl(m_baseUrl, symbol),
        [symbol, done = std::move(done)](const QuoteFailure* failure, const QByteArray& body) {
            done(failure ? QuoteResult(*failure) : decodeQuote(body, symbol, maxBodyBytes));
        });
}

void StockService::fetchSpark(const QStringList& symbols, QObject* context,
                              std::function<void(SparkAnswer)> done) {
    QPointer<QObject> guard(context);
    const bool hadContext = context != nullptr;
    enqueue(context, [this, symbols, guard, hadContext, done = std::move(done)] {
        get(sparkUrl(m_baseUrl, symbols),
            [this, guard, hadContext, done](const QuoteFailure* failure, const QByteArray& body) {
                SparkAnswer answer;
                if (failure) {
                    answer.failure = *failure;
                } else {
                    QString why;
                    if (auto quotes = decodeSpark(body, &why))
                        answer.quotes = std::move(*quotes);
                    else
                        answer.failure = QuoteFailure{StockError::decoding, why, 0, std::nullopt};
                }
                if (!hadContext || guard)
                    done(std::move(answer));
                finishCall();
            });
    });
}

void StockService::get(const QUrl& url,
                       std::function<void(const QuoteFailure*, const QByteArray&)> done) {
    if (!url.isValid()) {
        const QuoteFailure failure{
            StockError::invalidURL,
            QStringLiteral("cannot build an address from base '%1'").arg(m_baseUrl.toString()), 0,
            std::nullopt};
        QMetaObject::invokeMethod(
            this, [done, failure] { done(&failure, {}); }, Qt::QueuedConnection);
        return;
    }

    QNetworkRequest req(url);
    req.setRawHeader("User-Agent", userAgent);
    req.setRawHeader("Accept", "application/json");
    QNetworkReply* reply = m_network->get(req);
    // The network layer reads no further ahead than this; without a limit it would pull a
    // whole oversized answer into memory before the size check below could stop it, and
    // the freed megabytes would stay in the process's heap.
    reply->setReadBufferSize(readAheadBytes);
    auto transfer = std::make_shared<Transfer>();

    // The manager's own timeout only notices silence; this limit covers the whole exchange,
    // so a server that trickles bytes still fails on time.
    transfer->deadline = m_clock->schedule(requestTimeoutSeconds, reply, [reply, transfer] {
        if (transfer->finished)
            return;
        transfer->timedOut = true;
        reply->abort();
    });

    auto refuseIfLarge = [reply, transfer](qint64 bytes) {
        if (bytes > maxBodyBytes && !transfer->oversized && !transfer->finished) {
            transfer->oversized = true;
            transfer->body.clear();
            reply->abort();
        }
    };
    connect(reply, &QNetworkReply::metaDataChanged, reply, [reply, refuseIfLarge] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid())
            refuseIfLarge(length.toLongLong());
    });
    connect(reply, &QNetworkReply::readyRead, reply, [reply, transfer, refuseIfLarge] {
        if (transfer->oversized || transfer->finished)
            return;
        const qint64 incoming = reply->bytesAvailable();
        if (transfer->body.size() + incoming > maxBodyBytes) {
            refuseIfLarge(transfer->body.size() + incoming);
            return;
        }
        transfer->body += reply->readAll();
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, transfer, done] {
        if (transfer->finished)
            return;
        transfer->finished = true;
        transfer->deadline.cancel();
        if (!transfer->oversized && !transfer->timedOut) {
            const qint64 incoming = reply->bytesAvailable();
            if (transfer->body.size() + incoming > maxBodyBytes) {
                transfer->oversized = true;
                transfer->body.clear();
            } else {
                transfer->body += reply->readAll();
            }
        }
        const std::optional<QuoteFailure> failure = classify(reply, *transfer, m_clock->now());
        const QByteArray body = std::exchange(transfer->body, {});
        reply->deleteLater();
        done(failure ? &*failure : nullptr, body);
    });
}

} // namespace velline
