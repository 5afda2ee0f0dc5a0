#include "market/chartfeed.h"
#include "market/sparkfeed.h"

#include <QFile>
#include <QTest>

using namespace velline;

namespace {
QByteArray fixture(const QString& name) {
    QFile f(QStringLiteral(VELLINE_FIXTURES_DIR "/chart/") + name);
    if (!f.open(QIODevice::ReadOnly))
        qFatal("missing fixture %s", qPrintable(name));
    return f.readAll();
}

// A minimal answer around one result object.
QByteArray answer(const QByteArray& result) {
    return R"({"chart":{"result":[)" + result + R"(],"error":null}})";
}

const QByteArray okMeta = R"("meta":{"symbol":"X","regularMarketPrice":10})";
} // namespace

class TestChartFeed : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void decodesEveryRecordedAnswer_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<Quote>("head"); // the quote without its bars
        QTest::addColumn<int>("bars");
        QTest::addColumn<QList<PricePoint>>("ends"); // the first bar and the last

        QTest::newRow("aapl full session (null bar dropped)")
            << "aapl-1m-20241002-full-session.json"
            << Quote{"AAPL", 225.67, 226.21, 33638504.0, 0, {}} << 390
            << QList<PricePoint>{{1727875800, 225.6999969482422, 1205461},
                                 {1727985600, 225.6699981689453, 0}};
        QTest::newRow("tsla without regularMarketVolume")
            << "tsla-30m-prepost.json" << Quote{"TSLA", 1156.87, 1137.06, 0.0, 0, {}} << 30
            << QList<PricePoint>{{1637571600, 1168.7, 0}, {1637623800, 1156.49, 0}};
        QTest::newRow("weekend: no timestamp, empty series")
            << "aapl-1m-weekend-no-timestamp.json"
            << Quote{"AAPL", 244.87, 236.0, 32129951.0, 0, {}} << 0 << QList<PricePoint>{};
        QTest::newRow("bitcoin volume beyond 32 bits")
            << "btc-usd-1d.json" << Quote{"BTC-USD", 77758.58, 68078.555, 44245680128.0, 0, {}}
            << 10
            << QList<PricePoint>{{1775001600, 68078.5546875, 36465393617},
                                 {1775779200, 72979.046875, 37722595732}};
    }
    void decodesEveryRecordedAnswer() {
        QFETCH(QString, file);
        QFETCH(Quote, head);
        QFETCH(int, bars);
        QFETCH(QList<PricePoint>, ends);

        const QuoteResult r = decodeQuote(fixture(file), QStringLiteral("REQUESTED"));
        QVERIFY2(r.ok(), qPrintable(r.describe()));
        Quote q = r.quote();
        const QList<PricePoint> intraday = std::exchange(q.intraday, {});
        QCOMPARE(q, head);
        QCOMPARE(intraday.size(), bars);
        QCOMPARE((bars ? QList{intraday.first(), intraday.last()} : QList<PricePoint>{}), ends);
    }

    void previousCloseAndSymbolPreference() {
        auto quoteWith = [](const QByteArray& meta) {
            const QByteArray price = R"("regularMarketPrice":187.5)";
            return decodeQuote(answer(R"({"meta":{)" + price + meta + "}}"), "^GSPC").quote();
        };
        QCOMPARE(quoteWith(R"(,"previousClose":185,"chartPreviousClose":184)").previousClose,
                 184.0);
        QCOMPARE(quoteWith(R"(,"previousClose":185.0)").previousClose, 185.0);
        QCOMPARE(quoteWith(R"(,"previousClose":null,"chartPreviousClose":null)").previousClose,
                 187.5);
        // The requested symbol as given (never the encoded form) when meta has none.
        QCOMPARE(quoteWith({}), (Quote{"^GSPC", 187.5, 187.5, 0, 0, {}}));
        QCOMPARE(quoteWith(R"(,"symbol":"X")").symbol, QStringLiteral("X"));
    }

    void barsFollowTimestampsAndSkipMissingCloses() {
        // aapl full session: index 105 (15:15 UTC) is null in every array.
        const Quote aapl = decodeQuote(fixture("aapl-1m-20241002-full-session.json"), {}).quote();
        QCOMPARE(aapl.intraday.mid(104, 2),
                 (QList<PricePoint>{{1727882040, 226.1300048828125, 11712},
                                    {1727882160, 226.3800048828125, 191527}}));
        const auto bars = [](const QByteArray& rest) {
            const QuoteResult r = decodeQuote(answer("{" + okMeta + "," + rest + "}"), {});
            if (!r.ok())
                qFatal("%s", qPrintable(r.describe()));
            return r.quote().intraday;
        };
        // Five stamps, three closes: only 0 and 2 survive; null volume reads as 0.
        QCOMPARE(bars(R"("timestamp":[10,20,30,40,50],"indicators":{"quote":[)"
                      R"({"close":[1.0,null,3.0],"volume":[7,8,null,9,9,9]}]})"),
                 (QList<PricePoint>{{10, 1, 7}, {30, 3, 0}}));
        // No volume array at all, and more closes than stamps.
        QCOMPARE(bars(R"("timestamp":[10],"indicators":{"quote":[{"close":[5,6]}]})"),
                 (QList<PricePoint>{{10, 5, 0}}));
        // Missing pieces give no bars but still a quote.
        QVERIFY(bars(R"("timestamp":[10,20])").isEmpty());
        QVERIFY(bars(R"("timestamp":[10],"indicators":{"quote":[{"volume":[1]}]})").isEmpty());
        QVERIFY(bars(R"("indicators":{"quote":[{"close":[1]}]})").isEmpty());
        // Only the first series counts.
        QCOMPARE(bars(R"("timestamp":[1],"indicators":{"quote":[{"close":[2]},{"close":[3]}]})"),
                 (QList<PricePoint>{{1, 2, 0}}));
        // An integral number written with a fraction is still an integer.
        QCOMPARE(
            bars(R"("timestamp":[10.0],"indicators":{"quote":[{"close":[1],"volume":[3.0]}]})"),
            (QList<PricePoint>{{10, 1, 3}}));
    }

    void wrongShapesMakeTheWholeBodyUndecodable_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("not json") << QByteArray("<html>rate limited</html>");
        QTest::newRow("chart null") << QByteArray(R"({"chart":null})");
        QTest::newRow("result null element") << QByteArray(R"({"chart":{"result":[null]}})");
        QTest::newRow("no meta") << answer(R"({"timestamp":[1]})");
        QTest::newRow("price string") << answer(R"({"meta":{"regularMarketPrice":"187.5"}})");
        QTest::newRow("timestamp fraction") << answer("{" + okMeta + R"(,"timestamp":[1.5]})");
        QTest::newRow("timestamp beyond 64 bits")
            << answer("{" + okMeta + R"(,"timestamp":[1e19]})");
        QTest::newRow("volume fraction")
            << answer("{" + okMeta + R"(,"indicators":{"quote":[{"volume":[2.5]}]}})");
        QTest::newRow("bad second result") // later elements are decoded too
            << QByteArray(R"({"chart":{"result":[{)" + okMeta + R"(},{"meta":3}]}})");
        QTest::newRow("error code number")
            << QByteArray(R"({"chart":{"result":null,"error":{"code":404}}})");
    }
    void wrongShapesMakeTheWholeBodyUndecodable() {
        QFETCH(QByteArray, body);
        const QuoteResult r = decodeQuote(body, QStringLiteral("X"));
        QVERIFY(!r.ok());
        QCOMPARE(r.error(), StockError::decoding);
        QVERIFY(!r.detail().isEmpty());
    }

    void answersWithoutPriceOrResultHaveNoData() {
        for (const QByteArray& body :
             {fixture("error-not-found.json"), QByteArray(R"({"chart":{}})"),
              QByteArray(R"({"chart":{"result":[]}})"),
              QByteArray(R"({"chart":{"result":null,"error":{"code":"x","description":"y"}}})"),
              answer(R"({"meta":{"symbol":"X"}})"),
              answer(R"({"meta":{"regularMarketPrice":null,"previousClose":3}})")}) {
            const QuoteResult r = decodeQuote(body, QStringLiteral("X"));
            QVERIFY2(!r.ok() && r.error() == StockError::noData, body.constData());
        }
        const QString detail = decodeQuote(fixture("error-not-found.json"), {}).detail();
        QVERIFY(detail.endsWith(QLatin1String("No data found, symbol may be delisted")));
    }

    void oversizedBodiesAreRefused() {
        const QByteArray body = answer("{" + okMeta + "}");
        QVERIFY(decodeQuote(body, {}, body.size()).ok());
        QCOMPARE(decodeQuote(body, {}, body.size() - 1).error(), StockError::decoding);
    }

    void symbolsAreEncodedWithTheRfc3986PathSetInBothAddresses() {
        QCOMPARE(encodeSymbolForPath("^GSPC"), QStringLiteral("%5EGSPC"));
        QCOMPARE(encodeSymbolForPath("ES=F"), QStringLiteral("ES=F"));
        QCOMPARE(encodeSymbolForPath("A.B_c~1!$&'()*+,;=:@"),
                 QStringLiteral("A.B_c~1!$&'()*+,;=:@"));
        QCOMPARE(encodeSymbolForPath("A/../B"), QStringLiteral("A%2F..%2FB"));
        QCOMPARE(encodeSymbolForPath("A B?x#y%"), QStringLiteral("A%20B%3Fx%23y%25"));
        QCOMPARE(encodeSymbolForPath("Ä"), QStringLiteral("%C3%84"));
        const QUrl base(QStringLiteral("https://query1.finance.yahoo.com"));
        QCOMPARE(
            chartUrl(QUrl("http://127.0.0.1:8765/feed/"), "ES=F").toEncoded(),
            QByteArray("http://127.0.0.1:8765/feed/v8/finance/chart/ES=F?interval=5m&range=1d"));
        // A symbol cannot smuggle in its own query or fragment.
        const QUrl sneaky = chartUrl(base, QStringLiteral("X?range=max#y"));
        QCOMPARE(sneaky.query(), QStringLiteral("interval=5m&range=1d"));
        QVERIFY(!sneaky.hasFragment());
        QVERIFY(chartUrl(base, QStringLiteral("...")).isValid()); // only "." and ".." refused

        for (const char* bad :
             {"", "query1.finance.yahoo.com", "ftp://h", "file:///tmp", "https://h?x=1", "http://"})
            QVERIFY2(!chartUrl(QUrl(QString::fromLatin1(bad)), QStringLiteral("A")).isValid(), bad);
        // The multi-symbol address encodes every symbol.
        const QUrl url = sparkUrl(QUrl("http://127.0.0.1:8765/"), {"^GSPC", "ES=F", "BRK-B"});
        QCOMPARE(url.toString(QUrl::FullyEncoded),
                 QStringLiteral("http://127.0.0.1:8765/v7/finance/spark?symbols=%5EGSPC,ES%3DF,"
                                "BRK-B&range=1d&interval=5m"));
        QVERIFY(!sparkUrl(QUrl("ftp://host"), {"A"}).isValid());
        QVERIFY(!sparkUrl(QUrl("http://host"), {}).isValid());
    }

    void multiSymbolAnswersInBothShapes_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<std::optional<QList<SparkQuote>>>("quotes"); // none: undecodable
        const std::optional<QList<SparkQuote>> none;
        QTest::newRow("v7 envelope, meta first")
            << QByteArray(
                   R"({"spark":{"result":[{"symbol":"AAPL","response":[{"meta":{)"
                   R"("regularMarketPrice":190.5,"regularMarketTime":1700000000,)"
                   R"("regularMarketVolume":1200,"previousClose":188,)"
                   R"("chartPreviousClose":187},"indicators":{"quote":[{"close":[190]}]}}]},)"
                   R"({"symbol":"ES=F","response":[{"meta":{"chartPreviousClose":5000},)"
                   R"("indicators":{"quote":[{"close":[5010,null]}]}}]}],"error":null}})")
            << std::optional(QList<SparkQuote>{{"AAPL", 190.5, 188, 1200, 1'700'000'000'000},
                                               {"ES=F", 5010, 5000, 0, 0}});
        QTest::newRow("v8 flat, last non-null close")
            << QByteArray(R"({"MSFT":{"symbol":"MSFT","timestamp":[1,2,3],"close":[410,411,null],)"
                          R"("previousClose":null,"chartPreviousClose":405}})")
            << std::optional(QList<SparkQuote>{{"MSFT", 411, 405, 0, 0}});
        QTest::newRow("entries without a price are left out")
            << QByteArray(R"({"spark":{"result":[{"symbol":"X","response":[{"meta":{)"
                          R"("regularMarketPrice":"1"}}]},{"symbol":"","response":[]},)"
                          R"({"symbol":"Y","response":[{"meta":{"regularMarketPrice":-3}}]}]}})")
            << std::optional(QList<SparkQuote>{});
        QTest::newRow("an error envelope")
            << QByteArray(R"({"spark":{"result":null,"error":{"code":"Bad Request"}}})") << none;
        QTest::newRow("the edge's text") << QByteArray("Edge: Too Many Requests") << none;
        QTest::newRow("flat with a member that is no object")
            << QByteArray(R"({"AAPL":3})") << none;
    }
    void multiSymbolAnswersInBothShapes() {
        QFETCH(QByteArray, body);
        QFETCH(std::optional<QList<SparkQuote>>, quotes);
        QString why;
        QCOMPARE(decodeSpark(body, &why), quotes);
        QCOMPARE(why.isEmpty(), quotes.has_value());
    }
};

QTEST_GUILESS_MAIN(TestChartFeed)
#include "tst_chartfeed.moc"
