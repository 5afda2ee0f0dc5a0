#include "clock/manualclock.h"
#include "feedsim/feedsimulator.h"
#include "market/chartfeed.h"
#include "market/stock.h"

#include <QImage>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTest>

using namespace velline;

namespace {
const QStringList watchList = {"AVGO", "AAPL", "META", "MSFT", "^GSPC",
                               "LMT",  "NVDA", "IBM",  "MDB",  "PLTR"};
constexpr double dayStart = 1'750'032'000.0; // a midnight UTC

Quote decoded(const SimulatedMarket& market, const QString& symbol, double now) {
    const QuoteResult r = decodeQuote(market.chartAnswer(symbol, now), symbol);
    if (!r.ok())
        qFatal("%s", qPrintable(r.describe()));
    return r.quote();
}

struct Fetched {
    int status = 0;
    QByteArray contentType;
    QByteArray body;
};
} // namespace

class TestFeedSim : public QObject {
    Q_OBJECT

    Fetched get(QNetworkAccessManager& nam, const QUrl& url) {
        QNetworkReply* reply = nam.get(QNetworkRequest(url));
        if (!QTest::qWaitFor([reply] { return reply->isFinished(); }, 5000))
            qFatal("no answer from the simulator");
        Fetched f{reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
                  reply->header(QNetworkRequest::ContentTypeHeader).toByteArray(),
                  reply->readAll()};
        reply->deleteLater();
        return f;
    }

private Q_SLOTS:
    void answersHaveTheFeedShapeAndADayOfBars() {
        const SimulatedMarket market;
        const double now = dayStart + 15 * 3600 + 123.4;
        const Quote q = decoded(market, QStringLiteral("aapl"), now);
        QCOMPARE(q.symbol, QStringLiteral("AAPL"));
        // 78 five-minute bars minus the odd empty one, on the grid, the last one forming now.
        QVERIFY(q.intraday.size() >= 70 && q.intraday.size() <= SimulatedMarket::barsPerDay);
        for (const PricePoint& p : q.intraday)
            QCOMPARE(std::fmod(p.time, 300.0), 0.0);
        QVERIFY(q.intraday.last().time <= now && now - q.intraday.last().time < 300);
        QVERIFY(now - q.intraday.first().time < 78 * 300);
        QCOMPARE(static_cast<float>(q.intraday.last().price), static_cast<float>(q.price));
        double volume = 0;
        for (const PricePoint& p : q.intraday)
            volume += p.volume;
        QCOMPARE(q.volume, volume);
        // The same instant gives the same answer, from any simulator.
        QCOMPARE(market.chartAnswer(QStringLiteral("AAPL"), now),
                 SimulatedMarket().chartAnswer(QStringLiteral("AAPL"), now));
        QVERIFY(decoded(market, QStringLiteral("MSFT"), now).price != q.price);
        QCOMPARE(decoded(market, QStringLiteral("^GSPC"), now).symbol, QStringLiteral("^GSPC"));
    }

    void pricesMoveALittleAroundAStablePreviousClose() {
        const SimulatedMarket market;
        for (const QString& symbol : watchList) {
            const double close = decoded(market, symbol, dayStart + 60).previousClose;
            int moved = 0;
            for (int i = 1; i <= 30; ++i) {
                const double t = dayStart + i * 2000;
                const Quote a = decoded(market, symbol, t);
                const Quote b = decoded(market, symbol, t + 2);
                QCOMPARE(a.previousClose, close);
                moved += a.price != b.price;
                QVERIFY2(qAbs(a.price / close - 1) < 0.1, qPrintable(symbol));
                QVERIFY(qAbs(b.price / a.price - 1) < 0.01);
            }
            QVERIFY2(moved > 20, qPrintable(symbol)); // two seconds apart, prices mostly differ
        }
    }

    void aWatchListSeesSharpMovesEveryFewMinutes() {
        // Jumps of the default watch list over one day, merged: a few minutes apart on
        // average, in most ten-minute stretches, each 1 % or more within a minute.
        const SimulatedMarket market;
        QList<double> all;
        for (const QString& symbol : watchList) {
            for (double start : market.jumpsBetween(symbol, dayStart, dayStart + 86400)) {
                all.append(start);
                double move = 0; // largest move away from the start within a minute
                for (double t = start; t <= start + 60; t += 5)
                    move = std::max(
                        move, qAbs(market.priceAt(symbol, t) / market.priceAt(symbol, start) - 1));
                QVERIFY2(move >= 0.01, qPrintable(QString::number(move)));
            }
        }
        std::sort(all.begin(), all.end());
        QVERIFY(all.size() > 86400 / 300); // on average under five minutes apart
        int stretchesWithJump = 0;
        for (double from = dayStart; from < dayStart + 86400; from += 600)
            stretchesWithJump += std::any_of(
                all.begin(), all.end(), [from](double t) { return t >= from && t < from + 600; });
        QVERIFY2(stretchesWithJump >= 0.8 * 144, qPrintable(QString::number(stretchesWithJump)));

        // Jump bars trade heavily: some moment of the day shows a volume surge.
        bool surge = false;
        for (double t = dayStart + 7 * 3600; t < dayStart + 9 * 3600 && !surge; t += 120) {
            Stock s;
            s.intraday = decoded(market, QStringLiteral("NVDA"), t).intraday;
            surge = s.volumeRatio() >= 3;
        }
        QVERIFY(surge);
    }

    void servesChartsLogosAndNotFoundAndLogsRequests() {
        ManualClock clock(dayStart + 50'000);
        FeedSimulator sim(&clock);
        QVERIFY(sim.listen());
        QCOMPARE(sim.baseUrl().host(), QStringLiteral("127.0.0.1"));
        sim.setUnknownSymbols({QStringLiteral("GONE")});
        QNetworkAccessManager nam;
        const QUrl base = sim.baseUrl();

        const Fetched chart = get(
            nam,
            base.resolved(QUrl(QStringLiteral("/v8/finance/chart/%5EGSPC?interval=5m&range=1d"))));
        QCOMPARE(chart.status, 200);
        QCOMPARE(chart.body, sim.market().chartAnswer(QStringLiteral("^GSPC"), clock.now()));

        for (const char* unknown : {"/v8/finance/chart/GONE", "/v8/finance/chart/FOOXXX",
                                    "/v8/finance/chart/UNKNOWN1", "/v8/finance/chart/A%20B"}) {
            const Fetched f = get(nam, base.resolved(QUrl(QString::fromLatin1(unknown))));
            QCOMPARE(f.status, 404);
            QCOMPARE(f.body, SimulatedMarket::notFoundAnswer());
        }

        const Fetched logo = get(nam, base.resolved(QUrl(QStringLiteral("/image-stock/AAPL.png"))));
        QCOMPARE(logo.status, 200);
        QCOMPARE(logo.contentType, QByteArray("image/png"));
        const QImage image = QImage::fromData(logo.body, "PNG");
        QCOMPARE(image.size(), QSize(128, 128));
        QCOMPARE(image.pixelColor(64, 64), QColor(Qt::white));
        QCOMPARE(image.pixelColor(0, 0).alpha(), 0); // rounded corner
        QVERIFY(image.pixelColor(64, 8).saturation() > 100);
        QCOMPARE(get(nam, base.resolved(QUrl(QStringLiteral("/image-stock/XXX.png")))).status, 404);
        QCOMPARE(get(nam, base.resolved(QUrl(QStringLiteral("/other")))).status, 404);

        const QList<LoggedRequest> log = sim.requestLog();
        QCOMPARE(log.size(), 8);
        QCOMPARE(log[0].path, QByteArray("/v8/finance/chart/%5EGSPC"));
        QCOMPARE(log[0].query, QByteArray("interval=5m&range=1d"));
        QCOMPARE(log[0].symbol, QStringLiteral("^GSPC"));
        QCOMPARE(log[0].at, clock.now());
        QVERIFY(!log[0].header("host").isEmpty());
        QCOMPARE(log[4].symbol, QStringLiteral("A B"));
        QCOMPARE(log[5].symbol, QStringLiteral("AAPL"));
    }
};

QTEST_GUILESS_MAIN(TestFeedSim)
#include "tst_feedsim.moc"
