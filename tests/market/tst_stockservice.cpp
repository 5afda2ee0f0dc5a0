#include "clock/manualclock.h"
#include "feedsim/feedsimulator.h"
#include "market/feedbackoff.h"
#include "market/stockservice.h"

#include <QTest>

// Data-driven rows carry these; declared before the first QFETCH instantiates them.
Q_DECLARE_METATYPE(velline::ScriptedAnswer)
Q_DECLARE_METATYPE(velline::StockError)

using namespace velline;

namespace {
const QByteArray okBody = R"({"chart":{"result":[{"meta":{"symbol":"OK","regularMarketPrice":5,)"
                          R"("previousClose":4},"timestamp":[60],)"
                          R"("indicators":{"quote":[{"close":[4.5],"volume":[10]}]}}]}})";
} // namespace

class TestStockService : public QObject {
    Q_OBJECT

    std::unique_ptr<ManualClock> clock;
    std::unique_ptr<FeedSimulator> sim;
    std::unique_ptr<StockService> service;

    // Runs one fetchQuote to completion in real time; virtual time stands still, so the
    // request limit never cuts in.
    QuoteResult fetchOne(const QString& symbol) {
        std::optional<QuoteResult> result;
        service->fetchQuote(symbol, this, [&](QuoteResult r) { result = std::move(r); });
        if (result) // never called back inside the call
            return QuoteResult(StockError::transport, QStringLiteral("synchronous callback"));
        if (!QTest::qWaitFor([&] { return result.has_value(); }, 10000))
            return QuoteResult(StockError::transport, QStringLiteral("test gave up"));
        return *result;
    }

    QuoteBatch fetchBatch(const QStringList& symbols) {
        std::optional<QuoteBatch> got;
        service->fetchBatch(symbols, this, [&](QuoteBatch b) { got = std::move(b); });
        return QTest::qWaitFor([&] { return got.has_value(); }, 10000) ? *got : QuoteBatch{};
    }

private Q_SLOTS:
    void init() {
        clock = std::make_unique<ManualClock>(1'750'000'000.0);
        sim = std::make_unique<FeedSimulator>(clock.get());
        QVERIFY(sim->listen());
        service = std::make_unique<StockService>(sim->baseUrl(), clock.get());
    }
    void cleanup() {
        service.reset();
        sim.reset();
    }

    // The fixed query and headers; a slash stays in its path segment, dot segments go unasked.
    void requestsTheChartPathWithExactlyTheFixedQueryAndHeaders() {
        const QuoteBatch got = fetchBatch({"^GSPC", "A/../B", "..", ".", "B"});
        const QList<LoggedRequest> log = sim->requestLog();
        QCOMPARE(log.size(), 3);
        QCOMPARE(log[0].method, QByteArray("GET"));
        QCOMPARE(log[0].path, QByteArray("/v8/finance/chart/%5EGSPC"));
        QCOMPARE(log[0].query, QByteArray("interval=5m&range=1d"));
        QCOMPARE(log[0].header("User-Agent"),
                 QByteArray("Mozilla/5.0 (Macintosh; Intel Mac OS X 14_0) Velline/1.0"));
        QCOMPARE(log[0].header("Accept"), QByteArray("application/json"));
        QVERIFY(log[0].header("Cookie").isEmpty());
        QCOMPARE(log[1].path, QByteArray("/v8/finance/chart/A%2F..%2FB"));
        QCOMPARE(got.failures.size(), 3);
        QCOMPARE(got.failures[1].failure.error, StockError::invalidURL);
        QCOMPARE(got.failures[2].failure.error, StockError::invalidURL);
        QCOMPARE(classifyBatch(got), FeedTrouble::none);
    }

    void failuresAreTypedByCause_data() {
        QTest::addColumn<ScriptedAnswer>("answer");
        QTest::addColumn<StockError>("error");
        QTest::addColumn<QString>("detail");
        QTest::newRow("404 with the feed's explanation")
            << ScriptedAnswer::fixedAnswer(404, SimulatedMarket::notFoundAnswer())
            << StockError::badResponse << "HTTP 404: No data found, symbol may be delisted";
        QTest::newRow("the edge's text with a 200")
            << ScriptedAnswer::fixedAnswer(200, "Edge: Too Many Requests\n")
            << StockError::badResponse << "HTTP 200: Edge: Too Many Requests";
        QTest::newRow("429 even with a valid body")
            << ScriptedAnswer::fixedAnswer(429, okBody) << StockError::badResponse << "HTTP 429";
        QTest::newRow("broken body") << ScriptedAnswer::brokenBody() << StockError::decoding << "";
        QTest::newRow("200 with error answer")
            << ScriptedAnswer::fixedAnswer(200, SimulatedMarket::notFoundAnswer())
            << StockError::noData << "";
        QTest::newRow("oversized, announced")
            << ScriptedAnswer::oversized(StockService::maxBodyBytes + 1, true)
            << StockError::decoding << "larger than";
        // The body never ends: only counting the bytes as they come can refuse it in time.
        QTest::newRow("oversized, unannounced, open-ended")
            << ScriptedAnswer::oversized(StockService::maxBodyBytes + 4096, false, true)
            << StockError::decoding << "larger than";
    }
    void failuresAreTypedByCause() {
        QFETCH(ScriptedAnswer, answer);
        QFETCH(StockError, error);
        QFETCH(QString, detail);
        sim->script(QStringLiteral("S"), answer);
        const QuoteResult r = fetchOne(QStringLiteral("S"));
        QCOMPARE(stockErrorName(r.error()), stockErrorName(error));
        QVERIFY2(r.detail().contains(detail), qPrintable(r.detail()));
        if (detail.contains(QLatin1String("Edge"))) // a rate limit, whatever the status
            QCOMPARE(r.failure().httpStatus, 429);
    }

    void aBodyOfExactlyTheLimitIsReadToTheEnd() {
        sim->script("S", ScriptedAnswer::oversized(StockService::maxBodyBytes, false));
        const QuoteResult big = fetchOne(QStringLiteral("S"));
        QVERIFY2(big.ok() && big.quote().symbol == QLatin1String("BIG"),
                 qPrintable(big.describe()));
    }

    void stalledOrTricklingServersFailAfterEightSeconds() {
        for (const ScriptedAnswer& answer :
             {ScriptedAnswer::stall(),
              ScriptedAnswer::drip(QByteArray(200, ' ') + okBody, 1, 0.25)}) {
            sim->script("SLOW", answer);
            sim->clearRequestLog();
            std::optional<QuoteResult> result;
            service->fetchQuote("SLOW", this, [&](QuoteResult r) { result = r; });
            QTRY_COMPARE(sim->requestLog().size(), 1);
            // 7.75 s of activity (a trickle keeps the connection busy) is not enough to fail.
            for (int quarter = 0; quarter < 31; ++quarter) {
                clock->advance(0.25);
                QTest::qWait(2);
            }
            QVERIFY(!result);
            clock->advance(0.25);
            QTRY_VERIFY(result.has_value());
            QCOMPARE(result->error(), StockError::transport);
        }
    }

    void batchesAreSequentialAndDropFailures() {
        sim->script("B", ScriptedAnswer::fixedAnswer(404, SimulatedMarket::notFoundAnswer()));
        // A slow first answer (six pieces a second apart): the next request must wait for it.
        sim->script("A", ScriptedAnswer::drip(QByteArray(okBody).replace("OK", "A"), 30, 1.0));
        std::optional<QList<Quote>> quotes;
        service->fetchQuotes({"A", "B", "C"}, this, [&](QList<Quote> q) { quotes = q; });
        QTRY_COMPARE(sim->requestLog().size(), 1);
        for (int i = 0; i < 10 && !quotes; ++i) {
            clock->advance(1.0);
            QTest::qWait(10);
            if (i < 3)
                QCOMPARE(sim->requestLog().size(), 1);
        }
        QTRY_VERIFY(quotes.has_value());
        QCOMPARE(quotes->size(), 2);
        QCOMPARE(quotes->at(0).symbol + quotes->at(1).symbol, QStringLiteral("AC"));
        QCOMPARE(sim->requestLog().size(), 3);

        quotes.reset(); // nothing to fetch: an empty answer and no request
        service->fetchQuotes({}, this, [&](QList<Quote> q) { quotes = q; });
        QTRY_VERIFY(quotes.has_value() && quotes->isEmpty());
        QCOMPARE(sim->requestLog().size(), 3);
    }

    void callsQueueBehindEachOtherAndDropDeadContexts() {
        sim->script("STUCK", ScriptedAnswer::stall());
        QStringList order;
        service->fetchQuote("STUCK", this, [&](QuoteResult r) { order << r.describe(); });
        auto gone = std::make_unique<QObject>();
        service->fetchQuotes({"DEAD"}, gone.get(), [&](QList<Quote>) { order << "dead"; });
        service->fetchQuotes({"NEXT"}, this, [&](QList<Quote> q) { order << q.first().symbol; });
        QCOMPARE(service->queuedCalls(), 3);
        QTRY_COMPARE(sim->requestLog().size(), 1);
        gone.reset();
        clock->advance(5);
        QTest::qWait(20);
        QCOMPARE(sim->requestLog().size(), 1); // still waiting for STUCK
        clock->advance(3);
        QTRY_COMPARE(order.size(), 2);
        QVERIFY(order[0].startsWith(QLatin1String("transport")));
        QCOMPARE(order[1], QStringLiteral("NEXT"));
        // The dead caller's symbol was never requested.
        QCOMPARE(sim->requestLog().size(), 2);
    }

    void aBatchStopsAtARateLimitAndGoesOnAfterOtherFailures() {
        sim->script(QStringLiteral("FIVE"), ScriptedAnswer::fixedAnswer(500, "{}"));
        sim->script(QStringLiteral("IBM"), ScriptedAnswer::htmlPage());
        sim->script(QStringLiteral("MSFT"), ScriptedAnswer::tooManyRequests("7"));
        const QuoteBatch got = fetchBatch({"AAPL", "FIVE", "IBM", "MSFT", "NVDA"});
        QVERIFY(got.attempted == 4 && got.quotes.size() == 1 && got.failures.size() == 3);
        QCOMPARE(got.failures[0].failure.httpStatus, 500);
        QCOMPARE(got.failures[1].failure.error, StockError::decoding);
        QCOMPARE(got.failures[2].failure.httpStatus, 429);
        QCOMPARE(got.failures[2].failure.retryAfter, std::optional<double>(7));
        QCOMPARE(sim->requestLog().size(), 4); // NVDA was never asked for
    }

    void addressesAndConnectionProblems() {
        sim.reset(); // nobody listens on that port any more
        QCOMPARE(fetchOne(QStringLiteral("AAPL")).error(), StockError::transport);
        service = std::make_unique<StockService>(QUrl("ftp://127.0.0.1"), clock.get());
        QCOMPARE(fetchOne(QStringLiteral("AAPL")).error(), StockError::invalidURL);

        // The shared client reads the feed address once.
        qputenv("VELLINE_CHART_FEED_URL", "http://127.0.0.1:9/");
        QCOMPARE(StockService::shared().baseUrl(), QUrl("http://127.0.0.1:9/"));
        qputenv("VELLINE_CHART_FEED_URL", "http://127.0.0.1:10");
        QCOMPARE(StockService::shared().baseUrl(), QUrl("http://127.0.0.1:9/"));
        qunsetenv("VELLINE_CHART_FEED_URL");
        QCOMPARE(StockService::configuredBaseUrl(), QUrl("https://query1.finance.yahoo.com"));
    }
};

QTEST_GUILESS_MAIN(TestStockService)
#include "tst_stockservice.moc"
