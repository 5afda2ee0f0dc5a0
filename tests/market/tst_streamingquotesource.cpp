#include "clock/manualclock.h"
#include "feedsim/feedsimulator.h"
#include "market/stockservice.h"
#include "market/streamingquotesource.h"

#include <QTest>

#include <algorithm>

using namespace velline;
using Source = StreamingQuoteSource::PriceSource;

// The source against the simulator's streamer and chart feed, on virtual time: the clock only
// moves when a test moves it, and each step waits for the sockets to deliver what it caused.
class TestStreamingQuoteSource : public QObject {
    Q_OBJECT

    std::unique_ptr<ManualClock> clock;
    std::unique_ptr<FeedSimulator> sim;
    std::unique_ptr<StockService> http;
    std::unique_ptr<StreamingQuoteSource> source;
    bool inSession = true;
    static constexpr double t0 = 1'796'655'600.0; // Monday 7 December 2026, 10:00 in New York

    void make(const QUrl& streamUrl) {
        source = std::make_unique<StreamingQuoteSource>(
            streamUrl, http.get(), clock.get(),
            [this](const QString&, double) { return inSession; });
        source->setRandom([] { return 0.5; }); // no spread: delays exact
    }

    // What the source answers now; an answer it holds back (nothing known yet) reads empty.
    QuoteBatch batch(const QStringList& symbols) {
        auto got = std::make_shared<std::optional<QuoteBatch>>();
        source->fetchBatch(symbols, this, [got](QuoteBatch b) { *got = std::move(b); });
        clock->runDue();
        return got->value_or(QuoteBatch{});
    }

    // Moves virtual time on in steps of one second, letting the sockets catch up after each.
    void run(double seconds) {
        for (double done = 0; done < seconds; done += 1) {
            clock->advance(std::min(1.0, seconds - done));
            QCoreApplication::processEvents(); // the frames this step sent
            QCoreApplication::processEvents();
            // The requests this step sent are answered before the next one.
            (void)until([&] { return http->queuedCalls() == 0; });
        }
    }

    bool until(const std::function<bool()>& condition) {
        return QTest::qWaitFor(
            [&] {
                clock->runDue();
                return condition();
            },
            5000);
    }

    static double priceOf(const QuoteBatch& b, const QString& symbol) {
        const auto it = std::ranges::find(b.quotes, symbol, &Quote::symbol);
        return it == b.quotes.end() ? 0 : it->price;
    }

    int chartRequestsFor(const QString& symbol) {
        return int(std::ranges::count_if(sim->requestLog(), [&](const LoggedRequest& r) {
            return r.path.endsWith("/" + symbol.toUtf8());
        }));
    }

private Q_SLOTS:
    void init() {
        inSession = true;
        clock = std::make_unique<ManualClock>(t0);
        sim = std::make_unique<FeedSimulator>(clock.get());
        QVERIFY(sim->listen());
        http = std::make_unique<StockService>(sim->baseUrl(), clock.get());
        make(sim->streamUrl());
    }
    void cleanup() {
        source.reset();
        http.reset();
        sim.reset();
    }

    // Symbols the streamer would refuse are never sent.
    void subscribesFollowsTheListAndPricesComeFromTheStream() {
        batch({"AAPL", "MSFT", "", "A\"B", "A B", QString(33, QLatin1Char('A'))});
        QVERIFY(until([&] { return sim->streamer().subscribedCount() == 2; }));
        QCOMPARE(sim->streamer().receivedFrames().first(), subscribeFrame({"AAPL", "MSFT"}));
        QVERIFY(until([&] { return source->priceSource() == Source::stream; }));
        QCOMPARE(batch({"AAPL", "MSFT"}).quotes.size(), 2);

        // The streamed price moves the quote between two chart answers.
        const int chartBefore = sim->chartRequestCount();
        run(20);
        QVERIFY(until([&] {
            return priceOf(batch({"AAPL", "MSFT"}), "AAPL") ==
                   roundWithPriceHint(sim->streamer().tickFor("AAPL", clock->now()).price, 2);
        }));
        QCOMPARE(sim->chartRequestCount(), chartBefore); // no chart request within 20 s

        // A list change: the dropped symbol unsubscribed, the new one subscribed; then the
        // futures in place of the whole list.
        batch({"AAPL", "NVDA"});
        QVERIFY(until([&] {
            return sim->streamer().subscribedSymbols() == QStringList({"AAPL", "NVDA"});
        }));
        QVERIFY(sim->streamer().receivedFrames().contains(unsubscribeFrame({"MSFT"})));
        QVERIFY(sim->streamer().receivedFrames().contains(subscribeFrame({"NVDA"})));
        const QStringList futures{"ES=F", "NQ=F", "YM=F", "RTY=F", "GC=F", "CL=F"};
        batch(futures);
        QVERIFY(until([&] { return sim->streamer().subscribedSymbols().size() == 6; }));
        QVERIFY(until([&] { return batch(futures).quotes.size() == 6; }));
        QCOMPARE(source->connectionsOpened(), 1);

        // The heartbeat sends the whole list again.
        const auto frames = sim->streamer().receivedFrames().size();
        run(StreamingQuoteSource::heartbeatPeriod);
        QVERIFY(until([&] { return sim->streamer().receivedFrames().size() > frames; }));
        QCOMPARE(sim->streamer().receivedFrames().last(), subscribeFrame(futures));
    }

    void reconnectsAfterACloseWithGrowingDelays() {
        batch({"AAPL"});
        QVERIFY(until([&] { return source->priceSource() == Source::stream; }));
        // Bars at start: one chart request per symbol.
        QVERIFY(until([&] { return sim->chartRequestCount() == 1; }));
        QList<double> delays;
        sim->setStreamFault(SimulatedStreamer::Fault::refuse);
        sim->streamer().closeAll();
        for (int i = 0; i < 8; ++i) {
            QVERIFY(until([&] { return source->reconnectAt().has_value(); }));
            delays << *source->reconnectAt() - clock->now();
            clock->advanceTo(*source->reconnectAt());
            QVERIFY(until([&] { return source->reconnectAt().has_value(); }));
        }
        QCOMPARE(delays, (QList<double>{1, 2, 4, 8, 16, 32, 60, 60}));
        sim->setStreamFault(SimulatedStreamer::Fault::none);
        clock->advanceTo(*source->reconnectAt());
        QVERIFY(until([&] { return source->priceSource() == Source::stream; }));
        QCOMPARE(source->connectionsOpened(), 2);
        // After a reconnect the bars are fetched again.
        QVERIFY(until([&] { return sim->chartRequestCount() == 2; }));
    }

    void aSilentConnectionCountsAsDeadOnlyInTheSession() {
        batch({"AAPL"});
        QVERIFY(until([&] { return source->priceSource() == Source::stream; }));
        sim->setStreamFault(SimulatedStreamer::Fault::silent);
        run(29);
        QVERIFY(source->isStreamOpen());
        run(1);
        QVERIFY(until([&] { return !source->isStreamOpen(); }));
        QCOMPARE(*source->reconnectAt() - clock->now(), 1.0);

        // Outside the session silence is normal.
        inSession = false;
        clock->advanceTo(*source->reconnectAt());
        QVERIFY(until([&] { return source->isStreamOpen(); }));
        run(300);
        QVERIFY(source->isStreamOpen());
        QCOMPARE(source->connectionsOpened(), 2);
    }

    void fallsBackToPollingAndBackAndPollsWithoutAStream() {
        sim->setStreamFault(SimulatedStreamer::Fault::refuse);
        batch({"AAPL", "MSFT"});
        QVERIFY(until([&] { return sim->chartRequestCount() == 2; }));
        QCOMPARE(source->feedSourceName(), QStringLiteral("poll"));
        run(StreamingQuoteSource::fallbackAfter - 1);
        QCOMPARE(sim->sparkRequestCount(), 0);
        run(1);
        QCOMPARE(source->priceSource(), Source::spark);
        QVERIFY(until([&] { return sim->sparkRequestCount() == 1; }));
        run(StreamingQuoteSource::sparkPeriod);
        QVERIFY(until([&] { return sim->sparkRequestCount() == 2; }));
        QCOMPARE(batch({"AAPL", "MSFT"}).quotes.size(), 2);

        // The multi-symbol endpoint fails too: the chart, one symbol every two seconds.
        sim->script(FeedSimulator::sparkScript, ScriptedAnswer::fixedAnswer(500, "{}"));
        run(2 * StreamingQuoteSource::sparkPeriod);
        QVERIFY(until([&] { return source->priceSource() == Source::chart; }));
        const int before = sim->chartRequestCount();
        run(10);
        QVERIFY(until([&] { return sim->chartRequestCount() >= before + 4; }));
        QVERIFY(sim->chartRequestCount() <= before + 6);

        // The stream comes back: prices from it again, no more polling.
        sim->clearScripts();
        sim->setStreamFault(SimulatedStreamer::Fault::none);
        run(StreamingQuoteSource::reconnectMax);
        QVERIFY(until([&] { return source->priceSource() == Source::stream; }));
        run(5);
        const int sparks = sim->sparkRequestCount();
        run(30);
        QCOMPARE(sim->sparkRequestCount(), sparks);

        // Without a stream address, the multi-symbol endpoint from the start.
        make(QUrl());
        batch({"AAPL", "MSFT"});
        QVERIFY(until([&] { return sim->sparkRequestCount() == sparks + 1; }));
        QCOMPARE(source->connectionsOpened(), 0);
    }

    void aSymbolTheStreamLeavesSilentIsPolledAlone() {
        // "XXXQ" gets no stream messages; its chart answers come from a script.
        const QByteArray body = R"({"chart":{"result":[{"meta":{"regularMarketPrice":5}}]}})";
        sim->script("XXXQ", ScriptedAnswer::fixedAnswer(200, body));
        batch({"AAPL", "XXXQ"});
        QVERIFY(
            until([&] { return chartRequestsFor("XXXQ") == 1 && chartRequestsFor("AAPL") == 1; }));
        run(StreamingQuoteSource::symbolSilence - 1);
        QCOMPARE(chartRequestsFor("XXXQ"), 1);
        run(1);
        QVERIFY(until([&] { return chartRequestsFor("XXXQ") == 2; }));
        run(StreamingQuoteSource::silentPollPeriod);
        QVERIFY(until([&] { return chartRequestsFor("XXXQ") == 3; }));
        QCOMPARE(chartRequestsFor("AAPL"), 1);
        QCOMPARE(priceOf(batch({"AAPL", "XXXQ"}), "XXXQ"), 5.0);
        QCOMPARE(source->priceSource(), Source::stream);
    }

    void rateLimitsPauseRequestsButNotTheStream() {
        sim->script("*", ScriptedAnswer::fixedAnswer(429, "Edge: Too Many Requests"));
        batch({"AAPL"});
        QVERIFY(until([&] { return source->requestsResumeAt().has_value(); }));
        QCOMPARE(*source->requestsResumeAt() - clock->now(), 60.0);
        QVERIFY(until([&] { return source->priceSource() == Source::stream; }));
        const QuoteBatch b = batch({"AAPL"}); // the streamed price; the feed stays live
        QVERIFY(b.quotes.size() == 1 && b.failures.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestStreamingQuoteSource)
#include "tst_streamingquotesource.moc"
