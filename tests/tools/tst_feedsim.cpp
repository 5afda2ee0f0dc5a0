// The feed simulator as a client sees it: chart answers, logos, the fault switches, the
// streamer and the multi-symbol endpoint.
#include "clock/manualclock.h"
#include "feedsim/feedsimulator.h"
#include "market/chartfeed.h"
#include "market/streamwire.h"

#include <QImage>
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

Quote decoded(const QString& symbol, double now) {
    const QuoteResult r = decodeQuote(SimulatedMarket().chartAnswer(symbol, now), symbol);
    if (!r.ok())
        qFatal("%s", qPrintable(r.describe()));
    return r.quote();
}

struct Fixture {
    ManualClock clock;
    FeedSimulator sim{&clock};
    QNetworkAccessManager nam;
    explicit Fixture(double start = dayStart + 15 * 3600 + 0.25) : clock(start) {
        if (!sim.listen())
            qFatal("cannot listen");
        sim.setControlEnabled(true);
    }
    struct Answer {
        int status;
        QByteArray contentType, body, retryAfter;
    };
    Answer get(const QByteArray& path) {
        QNetworkReply* reply = nam.get(QNetworkRequest(sim.baseUrl().resolved(QUrl(path))));
        if (!QTest::qWaitFor([reply] { return reply->isFinished(); }, waitMs))
            qFatal("no answer from the simulator");
        reply->deleteLater();
        return {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
                reply->header(QNetworkRequest::ContentTypeHeader).toByteArray(), reply->readAll(),
                reply->rawHeader("Retry-After")};
    }
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

        for (const QString& symbol : QStringList{"AVGO", "AAPL", "^GSPC", "NVDA", "PLTR"}) {
            const double close = decoded(symbol, dayStart + 60).previousClose;
            for (double t = dayStart + 2000; t < dayStart + 86000; t += 6000) {
                const Quote a = decoded(symbol, t);
                QCOMPARE(a.previousClose, close);
                QVERIFY2(qAbs(a.price / close - 1) < 0.1, qPrintable(symbol));
            }
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

        const QList<LoggedRequest> log = f.sim.requestLog();
        QCOMPARE(log.size(), 6);
        QCOMPARE(log[3].symbol, QStringLiteral("A B"));

        // A still market answers the same hours later.
        f.sim.setFrozenAt(f.clock.now());
        const QByteArray still = f.get("/v8/finance/chart/NVDA").body;
        f.clock.advance(3 * 3600);
        QCOMPARE(f.get("/v8/finance/chart/NVDA").body, still);
    }

    void httpFaultsCanBeSwitchedFromAnotherProcess() {
        Fixture f(dayStart + 50'000);
        QVERIFY(f.fault("kind=status&status=429&retryAfter=20"));
        const Fixture::Answer limited = f.get("/v8/finance/chart/AAPL");
        QCOMPARE(limited.status, 429);
        QCOMPARE(limited.retryAfter, QByteArray("20"));
        QVERIFY(f.fault({}));
        QCOMPARE(f.get("/v8/finance/chart/AAPL").status, 200);

        // The real feed's rate-limit answer, for the multi-symbol endpoint alone or for all.
        QVERIFY(f.fault("kind=edge429&symbol=/spark"));
        const Fixture::Answer edge = f.get("/v7/finance/spark?symbols=AAPL");
        QCOMPARE(edge.status, 429);
        QCOMPARE(edge.contentType, QByteArray("text/html"));
        QCOMPARE(edge.body, QByteArray("Edge: Too Many Requests"));
        QCOMPARE(f.get("/v8/finance/chart/AAPL").status, 200);
        QVERIFY(f.fault("kind=edge429"));
        QCOMPARE(f.get("/v8/finance/chart/AAPL").body, QByteArray("Edge: Too Many Requests"));
    }

    void subscribeGivesASnapshotThenUpdatesWhileThePriceMoves() {
        Fixture f;
        QWebSocket socket;
        QList<QByteArray> frames;
        connect(&socket, &QWebSocket::textMessageReceived, this,
                [&](const QString& text) { frames.append(text.toUtf8()); });
        socket.open(f.sim.streamUrl());
        QTRY_COMPARE_WITH_TIMEOUT(socket.state(), QAbstractSocket::ConnectedState, waitMs);
        socket.sendTextMessage(QString::fromUtf8(subscribeFrame({"AAPL", "^GSPC", "XXXUNK"})));
        QTRY_COMPARE_WITH_TIMEOUT(frames.size(), qsizetype(2), waitMs);
        const StreamTick first = decodeStreamFrame(frames[0]).value_or(StreamTick{});
        QCOMPARE(first.symbol, QStringLiteral("AAPL"));
        QCOMPARE(first.timeMs, qint64(std::floor(f.clock.now())) * 1000);
        QCOMPARE(
            first.previousClose,
            roundWithPriceHint(f.sim.market().snapshot("AAPL", f.clock.now()).previousClose, 2));

        // At most one message a second per known symbol, none for the unknown one, each with
        // the price a chart answer gives at that instant.
        for (int i = 0; i < 60; ++i)
            f.clock.advance(1);
        const int sent = f.sim.streamer().messagesSent();
        QVERIFY2(sent > 62 && sent <= 122, qPrintable(QString::number(sent)));
        QTRY_COMPARE_WITH_TIMEOUT(frames.size(), qsizetype(sent), waitMs);
        for (const QByteArray& frame : frames) {
            const StreamTick t = *decodeStreamFrame(frame);
            const double at = double(t.timeMs) / 1000 + 0.25;
            QCOMPARE(t.price, roundWithPriceHint(f.sim.market().snapshot(t.symbol, at).price, 2));
        }

        const QJsonObject stats = QJsonDocument::fromJson(f.get("/feedsim/stats").body).object();
        QCOMPARE(stats.value("streamMessages").toInt(), sent);
        QCOMPARE(stats.value("streamConnections").toInt(), 1);
        QCOMPARE(stats.value("chartRequests").toInt(), 0);

        QVERIFY(f.fault("kind=close"));
        QTRY_COMPARE_WITH_TIMEOUT(socket.state(), QAbstractSocket::UnconnectedState, waitMs);
        QCOMPARE(socket.closeCode(), QWebSocketProtocol::CloseCodeGoingAway);
    }

    void sparkAnswersAllSymbolsInOneRequest() {
        Fixture f;
        const Fixture::Answer v7 =
            f.get("/v7/finance/spark?symbols=AAPL,%5EGSPC,XXXUNKNOWN&range=1d&interval=5m");
        QCOMPARE(v7.status, 200);
        const QJsonArray results =
            QJsonDocument::fromJson(v7.body).object()["spark"].toObject()["result"].toArray();
        QCOMPARE(results.size(), 2);
        const QJsonObject response = results[0].toObject()["response"].toArray()[0].toObject();
        const SimSnapshot aapl = f.sim.market().snapshot("AAPL", f.clock.now());
        QCOMPARE(response["meta"]["regularMarketPrice"].toDouble(), aapl.price);
        QCOMPARE(response["timestamp"].toArray().size(), SimulatedMarket::barsPerDay);

        const QJsonObject flat =
            QJsonDocument::fromJson(f.get("/v8/finance/spark?symbols=AAPL,MSFT").body).object();
        QCOMPARE(flat.keys(), (QStringList{"AAPL", "MSFT"}));
        QCOMPARE(flat["AAPL"]["chartPreviousClose"].toDouble(), aapl.previousClose);

        QCOMPARE(f.get("/v7/finance/spark?symbols=XXXA,XXXB").status, 404);
        QCOMPARE(f.sim.sparkRequestCount(), 3);
    }
};

QTEST_GUILESS_MAIN(TestFeedSim)
#include "tst_feedsim.moc"
