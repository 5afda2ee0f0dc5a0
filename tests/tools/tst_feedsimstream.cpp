// The simulator's streamer and multi-symbol endpoint, as a client sees them.
#include "clock/manualclock.h"
#include "feedsim/feedsimulator.h"
#include "market/streamwire.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTest>
#include <QWebSocket>

#include <cmath>
#include <memory>

using namespace velline;

namespace {
constexpr double dayStart = 1'750'032'000.0; // a midnight UTC
constexpr int waitMs = 5000;

// One client connection with everything it received.
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
    ManualClock clock{dayStart + 15 * 3600 + 0.25};
    FeedSimulator sim{&clock};
    QNetworkAccessManager nam;
    Fixture() {
        if (!sim.listen())
            qFatal("cannot listen");
        sim.setControlEnabled(true);
    }
    std::unique_ptr<Client> connect() {
        auto c = std::make_unique<Client>(sim.streamUrl());
        if (!c->waitOpen())
            qFatal("stream did not open");
        return c;
    }
    // Waits until the streamer has taken in `n` client frames in all.
    bool waitReceived(qsizetype n) {
        return QTest::qWaitFor([&] { return sim.streamer().receivedFrames().size() >= n; }, waitMs);
    }
    struct Answer {
        int status;
        QByteArray contentType, body;
        bool retryAfter;
    };
    Answer get(const QByteArray& path) {
        QNetworkReply* reply = nam.get(QNetworkRequest(sim.baseUrl().resolved(QUrl(path))));
        if (!QTest::qWaitFor([reply] { return reply->isFinished(); }, waitMs))
            qFatal("no answer from the simulator");
        reply->deleteLater();
        return {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
                reply->header(QNetworkRequest::ContentTypeHeader).toByteArray(), reply->readAll(),
                reply->hasRawHeader("Retry-After")};
    }
};
} // namespace

class TestFeedSimStream : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void subscribeGivesASnapshotThenASecondlyMessageWhileThePriceMoves() {
        Fixture f;
        auto c = f.connect();
        c->send(subscribeFrame({"AAPL", "^GSPC", "XXXUNKNOWN"}));
        QVERIFY(c->waitFrames(2));
        const double now = f.clock.now();
        QList<StreamTick> ticks = c->ticks();
        QCOMPARE(ticks.size(), 2);
        QCOMPARE(ticks[0].symbol, QStringLiteral("AAPL"));
        QCOMPARE(ticks[1].symbol, QStringLiteral("^GSPC"));
        QCOMPARE(ticks[0].timeMs, qint64(std::floor(now)) * 1000);
        QCOMPARE(ticks[0].quoteType, 8);
        QCOMPARE(ticks[1].quoteType, 9);
        const SimSnapshot market = f.sim.market().snapshot("AAPL", now);
        QCOMPARE(ticks[0].price, roundWithPriceHint(market.price, 2));
        QCOMPARE(ticks[0].previousClose, roundWithPriceHint(market.previousClose, 2));
        QCOMPARE(ticks[0].dayVolume, market.volume);
        QVERIFY(ticks[0].dayLow <= ticks[0].price && ticks[0].price <= ticks[0].dayHigh);

        // A minute: at most one message a second per known symbol, none for the unknown one.
        const int before = f.sim.streamer().messagesSent();
        for (int i = 0; i < 60; ++i)
            f.clock.advance(1);
        const int sent = f.sim.streamer().messagesSent() - before;
        QVERIFY2(sent > 60 && sent <= 120, qPrintable(QString::number(sent)));
        QVERIFY(c->waitFrames(2 + sent));
        ticks = c->ticks();
        QCOMPARE(ticks.size(), 2 + sent);
        for (const StreamTick& t : ticks)
            QVERIFY(t.symbol == "AAPL" || t.symbol == "^GSPC");
        QCOMPARE(ticks.last().timeMs, qint64(std::floor(f.clock.now())) * 1000);

        const QJsonObject stats = QJsonDocument::fromJson(f.get("/feedsim/stats").body).object();
        QCOMPARE(stats.value("streamConnections").toInt(), 1);
        QCOMPARE(stats.value("streamOpen").toInt(), 1);
        QCOMPARE(stats.value("streamMessages").toInt(), 2 + sent);
        QCOMPARE(stats.value("streamSubscribed").toInt(), 3);
        QCOMPARE(stats.value("chartRequests").toInt(), 0); // old keys stay
    }

    void aStillMarketSendsOnlyTheSnapshot() {
        Fixture f;
        f.sim.setFrozenAt(f.clock.now());
        auto c = f.connect();
        c->send(subscribeFrame({"AAPL", "MSFT"}));
        QVERIFY(c->waitFrames(2));
        f.clock.advance(30);
        QCOMPARE(f.sim.streamer().messagesSent(), 2);
    }

    void resubscribesUnsubscribesAndTheSymbolCap() {
        Fixture f;
        f.sim.setFrozenAt(f.clock.now());
        f.sim.streamer().setSnapshotAge(3 * 86400);
        auto c = f.connect();
        c->send(subscribeFrame({"AAPL"}));
        QVERIFY(c->waitFrames(1));
        QCOMPARE(c->ticks()[0].timeMs, qint64(std::floor(f.clock.now() - 3 * 86400)) * 1000);
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
        c->send(subscribeFrame({"AAPL", "NVDA"})); // AAPL had a slot, NVDA has none
        QVERIFY(f.waitReceived(5));
        QCOMPARE(f.sim.streamer().subscribedCount(), 100);
        QVERIFY(!f.sim.streamer().subscribedSymbols().contains("NVDA"));
        QVERIFY(!c->closed);
    }

    void aFrameTheStreamerCannotReadEndsTheConnection_data() {
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("not JSON") << QByteArray("subscribe AAPL");
        QTest::newRow("symbols not a list") << QByteArray("{\"subscribe\":\"AAPL\"}");
        QTest::newRow("a list") << QByteArray("[null]");
        QTest::newRow("null symbol") << QByteArray("{\"subscribe\":[null]}");
        QTest::newRow("empty symbol") << QByteArray("{\"subscribe\":[\"\"]}");
        QTest::newRow("empty list") << QByteArray("{\"subscribe\":[]}");
        QTest::newRow("unknown action") << QByteArray("{\"watch\":[\"AAPL\"]}");
        QTest::newRow("empty object") << QByteArray("{}");
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

    void faultSwitches() {
        Fixture f;
        auto c = f.connect();
        c->send(subscribeFrame({"AAPL", "MSFT"}));
        QVERIFY(c->waitFrames(2));

        QCOMPARE(f.get("/feedsim/fault?kind=silent").status, 200);
        int before = f.sim.streamer().messagesSent();
        f.clock.advance(10);
        QCOMPARE(f.sim.streamer().messagesSent(), before);
        QVERIFY(!c->closed);

        QCOMPARE(f.get("/feedsim/fault?kind=garbage").status, 200);
        before = f.sim.streamer().messagesSent();
        f.clock.advance(4);
        const int garbage = f.sim.streamer().messagesSent() - before;
        QCOMPARE(garbage, 8);
        QVERIFY(c->waitFrames(2 + garbage));
        for (qsizetype i = 2; i < c->frames.size(); ++i)
            QVERIFY2(!decodeStreamFrame(c->frames[i]), c->frames[i].constData());

        QCOMPARE(f.get("/feedsim/fault?kind=close").status, 200);
        QVERIFY(QTest::qWaitFor([&] { return c->closed; }, waitMs));
        QCOMPARE(c->socket.closeCode(), QWebSocketProtocol::CloseCodeGoingAway);

        QCOMPARE(f.get("/feedsim/fault?kind=refuse").status, 200);
        Client refused(f.sim.streamUrl());
        QVERIFY(!refused.waitOpen());
        QCOMPARE(f.get("/feedsim/clear").status, 200);
        auto again = f.connect();
        again->send(subscribeFrame({"AAPL"}));
        QVERIFY(again->waitFrames(1));
        QCOMPARE(QJsonDocument::fromJson(f.get("/feedsim/stats").body)
                     .object()
                     .value("streamConnections")
                     .toInt(),
                 2);
    }

    void onlyTheStreamerAddressUpgrades() {
        Fixture f;
        QUrl other = f.sim.streamUrl();
        other.setPath("/v8/finance/chart/AAPL");
        Client wrongPath(other);
        QVERIFY(!wrongPath.waitOpen());
        f.sim.setStreamEnabled(false);
        Client disabled(f.sim.streamUrl());
        QVERIFY(!disabled.waitOpen());
        QCOMPARE(f.sim.streamer().connectionsOpened(), 0);
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
        QCOMPARE(meta["regularMarketVolume"].toInteger(), aapl.volume);
        QCOMPARE(meta["previousClose"].toDouble(), aapl.previousClose);
        QCOMPARE(response["timestamp"].toArray().size(), SimulatedMarket::barsPerDay);
        const QJsonObject quote = response["indicators"]["quote"][0].toObject();
        QCOMPARE(quote.keys(), QStringList{"close"});

        const Fixture::Answer v8 = f.get("/v8/finance/spark?symbols=AAPL,MSFT");
        const QJsonObject flat = QJsonDocument::fromJson(v8.body).object();
        QCOMPARE(flat.keys(), (QStringList{"AAPL", "MSFT"}));
        QCOMPARE(flat["AAPL"]["chartPreviousClose"].toDouble(), aapl.previousClose);
        QVERIFY(!flat["AAPL"].toObject().contains("meta"));

        QCOMPARE(f.get("/v7/finance/spark?symbols=XXXA,XXXB").status, 404);
        QCOMPARE(f.get("/v7/finance/spark?range=1d").status, 400);
        QCOMPARE(f.sim.sparkRequestCount(), 4);
        QCOMPARE(f.sim.chartRequestCount(), 0);
    }

    void theRealFeedsRateLimitAnswer() {
        Fixture f;
        QCOMPARE(f.get("/feedsim/fault?kind=edge429&symbol=/spark").status, 200);
        const Fixture::Answer limited = f.get("/v7/finance/spark?symbols=AAPL");
        QCOMPARE(limited.status, 429);
        QCOMPARE(limited.contentType, QByteArray("text/html"));
        QCOMPARE(limited.body, QByteArray("Edge: Too Many Requests"));
        QVERIFY(!limited.retryAfter);
        QCOMPARE(f.get("/v8/finance/chart/AAPL").status, 200); // the spark script alone
        QCOMPARE(f.get("/feedsim/fault?kind=edge429").status, 200);
        QCOMPARE(f.get("/v8/finance/chart/AAPL").body, QByteArray("Edge: Too Many Requests"));
    }
};

QTEST_GUILESS_MAIN(TestFeedSimStream)
#include "tst_feedsimstream.moc"
