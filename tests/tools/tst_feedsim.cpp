#include "clock/manualclock.h"
#include "feedsim/feedsimulator.h"
#include "market/chartfeed.h"

#include <QEventLoop>
#include <QImage>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTest>
#include <QTimer>

using namespace velline;

namespace {
const QStringList watchList = {"AVGO", "AAPL", "META", "MSFT", "^GSPC",
                               "LMT",  "NVDA", "IBM",  "MDB",  "PLTR"};
constexpr double dayStart = 1'750'032'000.0; // a midnight UTC

Quote decoded(const QString& symbol, double now) {
    const QuoteResult r = decodeQuote(SimulatedMarket().chartAnswer(symbol, now), symbol);
    if (!r.ok())
        qFatal("%s", qPrintable(r.describe()));
    return r.quote();
}
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

    void aWatchListSeesSharpMovesEveryFewMinutes() {
        const SimulatedMarket market;
        QList<double> all;
        for (const QString& symbol : watchList) {
            for (double start : market.jumpsBetween(symbol, dayStart, dayStart + 86400)) {
                all.append(start);
                double move = 0; // 1 % or more within a minute
                for (double t = start; t <= start + 60; t += 5)
                    move = std::max(
                        move, qAbs(market.priceAt(symbol, t) / market.priceAt(symbol, start) - 1));
                QVERIFY2(move >= 0.01, qPrintable(QString::number(move)));
            }
        }
        QVERIFY(all.size() > 86400 / 300); // on average under five minutes apart
        int stretchesWithJump = 0;         // and in most ten-minute stretches
        for (double from = dayStart; from < dayStart + 86400; from += 600)
            stretchesWithJump += std::any_of(
                all.begin(), all.end(), [from](double t) { return t >= from && t < from + 600; });
        QVERIFY2(stretchesWithJump >= 0.8 * 144, qPrintable(QString::number(stretchesWithJump)));
    }

    void faultsCanBeSwitchedFromAnotherProcess() {
        ManualClock clock(dayStart + 50'000);
        FeedSimulator sim(&clock);
        QVERIFY(sim.listen());
        QNetworkAccessManager nam;
        auto get = [&](const char* path) {
            QNetworkReply* reply = nam.get(QNetworkRequest(sim.baseUrl().resolved(QUrl(path))));
            if (!QTest::qWaitFor([reply] { return reply->isFinished(); }, 5000))
                qFatal("no answer from the simulator");
            reply->deleteLater();
            return std::make_tuple(
                reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
                reply->rawHeader("Retry-After"), reply->error());
        };
        // Off unless asked for: the control paths are plain unknown paths.
        QCOMPARE(std::get<0>(get("/feedsim/fault?kind=html")), 404);
        sim.setControlEnabled(true);
        QCOMPARE(std::get<0>(get("/feedsim/fault?kind=status&status=429&retryAfter=20")), 200);
        QCOMPARE(get("/v8/finance/chart/AAPL"),
                 std::make_tuple(429, QByteArray("20"), QNetworkReply::UnknownContentError));
        QCOMPARE(std::get<0>(get("/feedsim/fault?kind=reset&symbol=MSFT")), 200);
        QCOMPARE(std::get<2>(get("/v8/finance/chart/MSFT")), QNetworkReply::RemoteHostClosedError);
        QCOMPARE(std::get<0>(get("/feedsim/clear")), 200);
        QCOMPARE(std::get<0>(get("/v8/finance/chart/AAPL")), 200);
        // Qt's HTTP layer sends a request once more when a reused connection is reset.
        QVERIFY(sim.chartRequestCount() == 3 || sim.chartRequestCount() == 4);
        QCOMPARE(std::get<0>(get("/feedsim/fault?kind=bogus")), 400);
    }

    void servesChartsLogosAndNotFoundAndLogsRequests() {
        ManualClock clock(dayStart + 50'000);
        FeedSimulator sim(&clock);
        QVERIFY(sim.listen());
        sim.setUnknownSymbols({QStringLiteral("GONE")});
        QNetworkAccessManager nam;
        auto get = [&](const char* path) {
            QNetworkReply* reply = nam.get(QNetworkRequest(sim.baseUrl().resolved(QUrl(path))));
            if (!QTest::qWaitFor([reply] { return reply->isFinished(); }, 5000))
                qFatal("no answer from the simulator");
            reply->deleteLater();
            return qMakePair(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
                             reply->readAll());
        };

        QCOMPARE(get("/v8/finance/chart/%5EGSPC?interval=5m&range=1d"),
                 qMakePair(200, sim.market().chartAnswer(QStringLiteral("^GSPC"), clock.now())));
        for (const char* unknown : {"/v8/finance/chart/GONE", "/v8/finance/chart/FOOXXX",
                                    "/v8/finance/chart/UNKNOWN1", "/v8/finance/chart/A%20B"})
            QCOMPARE(get(unknown), qMakePair(404, SimulatedMarket::notFoundAnswer()));

        const auto logo = get("/image-stock/AAPL.png");
        QCOMPARE(logo.first, 200);
        const QImage image = QImage::fromData(logo.second, "PNG");
        QCOMPARE(image.size(), QSize(128, 128));
        QCOMPARE(image.pixelColor(64, 64), QColor(Qt::white));
        QCOMPARE(image.pixelColor(0, 0).alpha(), 0); // rounded corner
        QVERIFY(image.pixelColor(64, 8).saturation() > 100);
        QCOMPARE(get("/image-stock/XXX.png").first, 404);
        QCOMPARE(get("/other").first, 404);

        const QList<LoggedRequest> log = sim.requestLog();
        QCOMPARE(log.size(), 8);
        QCOMPARE(log[0].path, QByteArray("/v8/finance/chart/%5EGSPC"));
        QCOMPARE(log[0].query, QByteArray("interval=5m&range=1d"));
        QCOMPARE(log[0].symbol, QStringLiteral("^GSPC"));
        QCOMPARE(log[0].at, clock.now());
        QVERIFY(!log[0].header("host").isEmpty());
        QCOMPARE(log[4].symbol, QStringLiteral("A B"));
    }

    void aStillMarketNeverMovesAndTheLogStaysBounded() {
        ManualClock clock(dayStart + 50'000);
        FeedSimulator sim(&clock);
        QVERIFY(sim.listen());
        const double frozen = clock.now();
        sim.setFrozenAt(frozen);
        QNetworkAccessManager nam;
        const QUrl url = sim.baseUrl().resolved(QUrl("/v8/finance/chart/NVDA"));
        auto get = [&] {
            QNetworkReply* reply = nam.get(QNetworkRequest(url));
            QEventLoop loop;
            connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
            QTimer::singleShot(5000, &loop, &QEventLoop::quit);
            if (!reply->isFinished())
                loop.exec();
            if (!reply->isFinished())
                qFatal("no answer from the simulator");
            reply->deleteLater();
            return reply->readAll();
        };
        const QByteArray still = sim.market().chartAnswer(QStringLiteral("NVDA"), frozen);
        QCOMPARE(get(), still);
        clock.advance(3 * 3600); // hours later, across jumps and new bars
        QCOMPARE(get(), still);
        QVERIFY(sim.market().chartAnswer(QStringLiteral("NVDA"), clock.now()) != still);
        sim.setFrozenAt(std::nullopt);
        QCOMPARE(get(), sim.market().chartAnswer(QStringLiteral("NVDA"), clock.now()));

        // A simulator serving all day keeps only the latest requests.
        const qsizetype total = FeedSimulator::requestLogLimit + 7;
        for (qsizetype i = 3; i < total; ++i) {
            clock.advance(2);
            get();
        }
        const QList<LoggedRequest> log = sim.requestLog();
        QCOMPARE(log.size(), FeedSimulator::requestLogLimit);
        QCOMPARE(log.last().at, clock.now());
        QCOMPARE(log.first().at, clock.now() - 2 * double(FeedSimulator::requestLogLimit - 1));
    }
};

QTEST_GUILESS_MAIN(TestFeedSim)
#include "tst_feedsim.moc"
