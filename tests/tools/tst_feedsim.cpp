// The feed simulator as a client sees it: chart answers, logos, the fault switches, the
// streamer and the multi-symbol endpoint.
#include "clock/manualclock.h"
#include "feedsim/feedsimulator.h"
#include "market/chartfeed.h"
#include "market/streamwire.h"

#include <QEventLoop>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTest>
#include <QTimer>
#include <QWebSocket>

#include <cmath>
#include <memory>

using namespace velline;

namespace {
const QStringList watchList = {"AVGO", "AAPL", "META", "MSFT", "^GSPC",
                               "LMT",  "NVDA", "IBM",  "MDB",  "PLTR"};
constexpr double dayStart = 1'750'032'000.0; // a midnight UTC
constexpr int waitMs = 5000;

Quote decoded(const QString& symbol, double now) {
    const QuoteResult r = decodeQuote(SimulatedMarket().chartAnswer(symbol, now), symbol);
    if (!r.ok())
        qFatal("%s", qPrintable(r.describe()));
    return r.quote();
}

// One stream connection with everything it received.
struct Client {
    QWebSocket socket;
    QList<QByteArray> frames;
    bool closed = false;

    explicit Client(const QUrl& url) {
        QObject::connect(&socket, &QWebSocket::textMessageReceived,
                         [this](const QString& text) { frames.append(text.toUtf8()); });
        QObject::connect(&socket, &QWebSocket::disconnected, [this] { closed = true; });
        QObject::connect(&socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error),
                         [this] { closed = true; });
        socket.open(url);
    }
    bool waitOpen() {
        return QTest::qWaitFor(
                   [this] { return closed || socket.state() == QAbstractSocket::ConnectedState; },
                   waitMs) &&
               !closed;
    }
    void send(const QByteArray& frame) { socket.sendTextMessage(QString::fromUtf8(frame)); }
    bool waitFrames(qsizetype n) {
        return QTest::qWaitFor([&] { return frames.size() >= n; }, waitMs);
    }
    QList<StreamTick> ticks() const {
        QList<StreamTick> out;
        for (const QByteArray& f : frames)
            if (auto t = decodeStreamFrame(f))
                out.append(*t);
        return out;
    }
};

struct Fixture {
    ManualClock clock;
    FeedSimulator sim{&clock};
    QNetworkAccessManager nam;
    explicit Fixture(double start = dayStart + 15 * 3600 + 0.25) : clock(start) {
        if (!sim.listen())
            qFatal("cannot listen");
        sim.setControlEnabled(true);
    }
    std::unique_ptr<Client> connect(const QStringList& symbols = {}) {
        auto c = std::make_unique<Client>(sim.streamUrl());
        if (!c->waitOpen())
            qFatal("stream did not open");
        if (!symbols.isEmpty())
            c->send(subscribeFrame(symbols));
        return c;
    }
    // Waits until the streamer has taken in `n` client frames in all.
    bool waitReceived(qsizetype n) {
        return QTest::qWaitFor([&] { return sim.streamer().receivedFrames().size() >= n; }, waitMs);
    }
    struct Answer {
        int status;
        QByteArray contentType, body, retryAfter;
        QNetworkReply::NetworkError error;
    };
    Answer get(const QByteArray& path) {
        QNetworkReply* reply = nam.get(QNetworkRequest(sim.baseUrl().resolved(QUrl(path))));
        // An event loop ended by the answer itself: qWaitFor's polling would cost tens of
        // milliseconds a request, and one test makes a thousand.
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(waitMs, &loop, &QEventLoop::quit);
        if (!reply->isFinished())
            loop.exec();
        if (!reply->isFinished())
            qFatal("no answer from the simulator");
        reply->deleteLater();
        return {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
                reply->header(QNetworkRequest::ContentTypeHeader).toByteArray(), reply->readAll(),
                reply->rawHeader("Retry-After"), reply->error()};
    }
    QJsonObject stats() { return QJsonDocument::fromJson(get("/feedsim/stats").body).object(); }
    // Switches a fault (an empty query clears them all); true when the simulator took it.
    bool fault(const QByteArray& query) {
        return get(query.isEmpty() ? "/feedsim/clear" : "/feedsim/fault?" + query).status == 200;
    }
};
} // namespace

class TestFeedSim : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void answersHoldADayOfBarsAroundAStablePreviousClose() {
        const double now = dayStart + 15 * 3600 + 123.4;
        const Quote q = decoded(QStringLiteral("aapl"), now);
        QCOMPARE(q.symbol, QStringLiteral("AAPL"));
        // 78 bars on the 5-minute grid minus the odd empty one, the last one forming now.
        QVERIFY(q.intraday.size() >= 70 && q.intraday.size() <= SimulatedMarket::barsPerDay);
        double volume = 0;
        for (const PricePoint& p : q.intraday) {
            QCOMPARE(std::fmod(p.time, 300.0), 0.0);
            volume += p.volume;
        }
        QCOMPARE(q.volume, volume);
        QVERIFY(now - q.intraday.last().time < 300 && now - q.intraday.first().time < 78 * 300);
        QCOMPARE(static_cast<float>(q.intraday.last().price), static_cast<float>(q.price));

        for (const QString& symbol : watchList) {
            const double close = decoded(symbol, dayStart + 60).previousClose;
            int moved = 0;
            for (double t = dayStart + 2000; t < dayStart + 62000; t += 2000) {
                const Quote a = decoded(symbol, t), b = decoded(symbol, t + 2);
                QCOMPARE(a.previousClose, close);
                QVERIFY2(qAbs(a.price / close - 1) < 0.1, qPrintable(symbol));
                moved += a.price != b.price; // two seconds apart
            }
            QVERIFY2(moved > 20, qPrintable(symbol));
        }
    }

    void servesChartsLogosAndNotFoundAndLogsRequests() {
        Fixture f(dayStart + 50'000);
        f.sim.setUnknownSymbols({QStringLiteral("GONE")});
        const Fixture::Answer chart = f.get("/v8/finance/chart/%5EGSPC?interval=5m&range=1d");
        QCOMPARE(chart.status, 200);
        QCOMPARE(chart.body, f.sim.market().chartAnswer(QStringLiteral("^GSPC"), f.clock.now()));
        for (const char* unknown :
             {"/v8/finance/chart/GONE", "/v8/finance/chart/FOOXXX", "/v8/finance/chart/A%20B"}) {
            const Fixture::Answer a = f.get(unknown);
            QCOMPARE(a.status, 404);
            QCOMPARE(a.body, SimulatedMarket::notFoundAnswer());
        }
        const Fixture::Answer logo = f.get("/image-stock/AAPL.png");
        QCOMPARE(logo.status, 200);
        QCOMPARE(QImage::fromData(logo.body, "PNG").size(), QSize(128, 128));
        QCOMPARE(f.get("/image-stock/XXX.png").status, 404);
        QCOMPARE(f.get("/other").status, 404);

        const QList<LoggedRequest> log = f.sim.requestLog();
        QCOMPARE(log.size(), 7);
        QCOMPARE(log[0].path, QByteArray("/v8/finance/chart/%5EGSPC"));
        QCOMPARE(log[0].query, QByteArray("interval=5m&range=1d"));
        QCOMPARE(log[0].symbol, QStringLiteral("^GSPC"));
        QCOMPARE(log[3].symbol, QStringLiteral("A B"));
    }

    void aStillMarketNeverMovesAndTheLogStaysBounded() {
        Fixture f(dayStart + 50'000);
        const double frozen = f.clock.now();
        f.sim.setFrozenAt(frozen);
        const QByteArray still = f.sim.market().chartAnswer(QStringLiteral("NVDA"), frozen);
        QCOMPARE(f.get("/v8/finance/chart/NVDA").body, still);
        auto c = f.connect({"AAPL", "MSFT"});
        QVERIFY(c->waitFrames(2));
        f.clock.advance(3 * 3600); // hours later, across jumps and new bars
        QCOMPARE(f.get("/v8/finance/chart/NVDA").body, still);
        QCOMPARE(f.sim.streamer().messagesSent(), 2); // the snapshot only
        f.sim.setFrozenAt(std::nullopt);
        QCOMPARE(f.get("/v8/finance/chart/NVDA").body,
                 f.sim.market().chartAnswer(QStringLiteral("NVDA"), f.clock.now()));

        // A simulator serving all day keeps only the latest requests.
        c.reset();
        for (qsizetype i = 2; i < FeedSimulator::requestLogLimit + 7; ++i) {
            f.clock.advance(2);
            f.get("/v8/finance/chart/NVDA");
        }
        const QList<LoggedRequest> log = f.sim.requestLog();
        QCOMPARE(log.size(), FeedSimulator::requestLogLimit);
        QCOMPARE(log.last().at, f.clock.now());
        QCOMPARE(log.first().at, f.clock.now() - 2 * double(FeedSimulator::requestLogLimit - 1));
    }

    void httpFaultsCanBeSwitchedFromAnotherProcess() {
        Fixture f(dayStart + 50'000);
        f.sim.setControlEnabled(false); // off unless asked for: plain unknown paths
        QCOMPARE(f.get("/feedsim/fault?kind=html").status, 404);
        f.sim.setControlEnabled(true);
        QVERIFY(f.fault("kind=status&status=429&retryAfter=20"));
        const Fixture::Answer limited = f.get("/v8/finance/chart/AAPL");
        QCOMPARE(limited.status, 429);
        QCOMPARE(limited.retryAfter, QByteArray("20"));
        QVERIFY(f.fault("kind=reset&symbol=MSFT"));
        QCOMPARE(f.get("/v8/finance/chart/MSFT").error, QNetworkReply::RemoteHostClosedError);
        QVERIFY(f.fault({}));
        QCOMPARE(f.get("/v8/finance/chart/AAPL").status, 200);
        QCOMPARE(f.get("/feedsim/fault?kind=bogus").status, 400);

        // The real feed's rate-limit answer, for the multi-symbol endpoint alone or for all.
        QVERIFY(f.fault("kind=edge429&symbol=/spark"));
        const Fixture::Answer edge = f.get("/v7/finance/spark?symbols=AAPL");
        QCOMPARE(edge.status, 429);
        QCOMPARE(edge.contentType, QByteArray("text/html"));
        QCOMPARE(edge.body, QByteArray("Edge: Too Many Requests"));
        QVERIFY(edge.retryAfter.isEmpty());
        QCOMPARE(f.get("/v8/finance/chart/AAPL").status, 200);
        QVERIFY(f.fault("kind=edge429"));
        QCOMPARE(f.get("/v8/finance/chart/AAPL").body, QByteArray("Edge: Too Many Requests"));
    }

    void subscribeGivesASnapshotThenASecondlyMessageWhileThePriceMoves() {
        Fixture f;
        auto c = f.connect({"AAPL", "^GSPC", "XXXUNKNOWN"});
        QVERIFY(c->waitFrames(2));
        const double now = f.clock.now();
        QList<StreamTick> ticks = c->ticks();
        QCOMPARE(ticks.size(), 2);
        QCOMPARE(ticks[0].symbol, QStringLiteral("AAPL"));
        QCOMPARE(ticks[1].symbol, QStringLiteral("^GSPC"));
        QCOMPARE(ticks[0].timeMs, qint64(std::floor(now)) * 1000);
        QCOMPARE(ticks[1].quoteType, 9);
        const SimSnapshot market = f.sim.market().snapshot("AAPL", now);
        QCOMPARE(ticks[0].previousClose, roundWithPriceHint(market.previousClose, 2));

        // A minute: at most one message a second per known symbol, none for the unknown one.
        const int before = f.sim.streamer().messagesSent();
        for (int i = 0; i < 60; ++i)
            f.clock.advance(1);
        const int sent = f.sim.streamer().messagesSent() - before;
        QVERIFY2(sent > 60 && sent <= 120, qPrintable(QString::number(sent)));
        QVERIFY(c->waitFrames(2 + sent));
        ticks = c->ticks();
        QCOMPARE(ticks.size(), 2 + sent);
        for (const StreamTick& t : ticks) {
            // Each streamed price is the one a chart answer gives at that instant.
            const double at = double(t.timeMs) / 1000 + 0.25;
            QCOMPARE(t.price, roundWithPriceHint(f.sim.market().snapshot(t.symbol, at).price, 2));
        }
        QCOMPARE(ticks.last().timeMs, qint64(std::floor(f.clock.now())) * 1000);

        const QJsonObject stats = f.stats();
        QCOMPARE(stats.value("streamMessages").toInt(), 2 + sent);
        QCOMPARE(stats.value("streamSubscribed").toInt(), 3);
        QCOMPARE(stats.value("chartRequests").toInt(), 0); // old keys stay
    }

    void resubscribesUnsubscribesAndTheSymbolCap() {
        Fixture f;
        f.sim.setFrozenAt(f.clock.now());
        auto c = f.connect({"AAPL"});
        QVERIFY(c->waitFrames(1));
        // The heartbeat re-subscribe sends no second snapshot; a new symbol gets one.
        c->send(subscribeFrame({"AAPL", "MSFT"}));
        QVERIFY(c->waitFrames(2));
        QCOMPARE(c->ticks()[1].symbol, QStringLiteral("MSFT"));
        c->send(unsubscribeFrame({"AAPL"}));
        QVERIFY(f.waitReceived(3));
        QCOMPARE(f.sim.streamer().subscribedSymbols(), QStringList{"MSFT"});

        // 2 slots used (AAPL keeps its slot); 120 more asked for, 98 taken.
        QStringList many;
        for (int i = 0; i < 120; ++i)
            many.append(QStringLiteral("S%1").arg(i, 3, 10, QLatin1Char('0')));
        c->send(subscribeFrame(many));
        QVERIFY(f.waitReceived(4));
        QCOMPARE(f.sim.streamer().subscribedCount(), 99);
        QVERIFY(f.sim.streamer().subscribedSymbols().contains("S097"));
        QVERIFY(!f.sim.streamer().subscribedSymbols().contains("S098"));
        QVERIFY(!c->closed);
    }

    void aFrameTheStreamerCannotReadEndsTheConnection_data() {
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("not JSON") << QByteArray("subscribe AAPL");
        QTest::newRow("symbols not a list") << QByteArray("{\"subscribe\":\"AAPL\"}");
        QTest::newRow("empty symbol") << QByteArray("{\"subscribe\":[\"\"]}");
        QTest::newRow("unknown action") << QByteArray("{\"watch\":[\"AAPL\"]}");
        QTest::newRow("binary frame") << QByteArray();
    }
    void aFrameTheStreamerCannotReadEndsTheConnection() {
        QFETCH(QByteArray, frame);
        Fixture f;
        auto c = f.connect();
        if (frame.isEmpty())
            c->socket.sendBinaryMessage(subscribeFrame({"AAPL"}));
        else
            c->send(frame);
        QVERIFY(QTest::qWaitFor([&] { return c->closed; }, waitMs));
        QCOMPARE(f.sim.streamer().messagesSent(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(f.sim.streamer().openConnections(), 0, waitMs);
    }

    void streamFaultSwitches() {
        Fixture f;
        auto c = f.connect({"AAPL", "MSFT"});
        QVERIFY(c->waitFrames(2));
        // Messages the streamer sends while the clock moves on by `seconds`, once all arrived.
        const auto sentIn = [&](double seconds) {
            const int before = f.sim.streamer().messagesSent();
            f.clock.advance(seconds);
            const int sent = f.sim.streamer().messagesSent() - before;
            return c->waitFrames(c->frames.size() + sent) ? sent : -1;
        };
        QVERIFY(f.fault("kind=silent&symbol=MSFT")); // the other streams on
        QVERIFY(sentIn(30) > 0);
        for (qsizetype i = 2; i < c->frames.size(); ++i)
            QCOMPARE(decodeStreamFrame(c->frames[i])->symbol, QStringLiteral("AAPL"));
        QVERIFY(f.fault("kind=silent"));
        QCOMPARE(sentIn(10), 0);
        QVERIFY(!c->closed);

        QVERIFY(f.fault({}) && f.fault("kind=garbage"));
        QCOMPARE(sentIn(4), 8);
        QVERIFY(!decodeStreamFrame(c->frames.last()));

        QVERIFY(f.fault("kind=close"));
        QVERIFY(QTest::qWaitFor([&] { return c->closed; }, waitMs));
        QCOMPARE(c->socket.closeCode(), QWebSocketProtocol::CloseCodeGoingAway);

        QVERIFY(f.fault("kind=refuse"));
        QVERIFY(!Client(f.sim.streamUrl()).waitOpen());
        QVERIFY(f.fault({}));
        auto again = f.connect({"AAPL"});
        QVERIFY(again->waitFrames(1));
        QCOMPARE(f.stats().value("streamConnections").toInt(), 2);

        // Only the streamer's address upgrades, and only while the stream is on.
        QUrl other = f.sim.streamUrl();
        other.setPath("/v8/finance/chart/AAPL");
        QVERIFY(!Client(other).waitOpen());
        f.sim.setStreamEnabled(false);
        QVERIFY(!Client(f.sim.streamUrl()).waitOpen());
        QCOMPARE(f.sim.streamer().connectionsOpened(), 2);
        QCOMPARE(f.get("/v8/finance/chart/AAPL").status, 200); // the HTTP side is unharmed
    }

    void sparkAnswersAllSymbolsInOneRequest() {
        Fixture f;
        const Fixture::Answer v7 =
            f.get("/v7/finance/spark?symbols=AAPL,%5EGSPC,XXXUNKNOWN&range=1d&interval=5m");
        QCOMPARE(v7.status, 200);
        const QJsonArray results =
            QJsonDocument::fromJson(v7.body).object()["spark"].toObject()["result"].toArray();
        QCOMPARE(results.size(), 2);
        QCOMPARE(results[1].toObject()["symbol"].toString(), QStringLiteral("^GSPC"));
        const QJsonObject response = results[0].toObject()["response"].toArray()[0].toObject();
        const SimSnapshot aapl = f.sim.market().snapshot("AAPL", f.clock.now());
        const QJsonObject meta = response["meta"].toObject();
        QCOMPARE(meta["regularMarketPrice"].toDouble(), aapl.price);
        QCOMPARE(meta["previousClose"].toDouble(), aapl.previousClose);
        QCOMPARE(response["timestamp"].toArray().size(), SimulatedMarket::barsPerDay);
        QCOMPARE(response["indicators"]["quote"][0].toObject().keys(), QStringList{"close"});

        const QJsonObject flat =
            QJsonDocument::fromJson(f.get("/v8/finance/spark?symbols=AAPL,MSFT").body).object();
        QCOMPARE(flat.keys(), (QStringList{"AAPL", "MSFT"}));
        QCOMPARE(flat["AAPL"]["chartPreviousClose"].toDouble(), aapl.previousClose);
        QVERIFY(!flat["AAPL"].toObject().contains("meta"));

        QCOMPARE(f.get("/v7/finance/spark?symbols=XXXA,XXXB").status, 404);
        QCOMPARE(f.get("/v7/finance/spark?range=1d").status, 400);
        QCOMPARE(f.sim.sparkRequestCount(), 4);
    }
};

QTEST_GUILESS_MAIN(TestFeedSim)
#include "tst_feedsim.moc"
