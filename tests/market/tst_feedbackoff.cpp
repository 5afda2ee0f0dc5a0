#include "market/feedbackoff.h"
#include "market/quotesource.h"

#include <QTest>

#include <cmath>

using namespace velline;

namespace {

SymbolFailure failed(const QString& symbol, StockError error, int status = 0,
                     std::optional<double> retryAfter = std::nullopt) {
    return SymbolFailure{symbol, QuoteFailure{error, {}, status, retryAfter}};
}

QuoteBatch batch(QList<SymbolFailure> failures, int quotes = 0) {
    QuoteBatch b;
    for (int i = 0; i < quotes; ++i)
        b.quotes.append(Quote{QStringLiteral("OK%1").arg(i), 1, 1, 0, 0, {}});
    b.failures = std::move(failures);
    b.attempted = static_cast<int>(b.quotes.size() + b.failures.size());
    return b;
}

QList<double> pauses(FeedBackoff& backoff, const QuoteBatch& b, int times) {
    QList<double> out;
    for (int i = 0; i < times; ++i)
        out.append(backoff.record(b));
    return out;
}

} // namespace

class TestFeedBackoff : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void retryAfterReadsSecondsAndHttpDates() {
        const double now = 1445412480; // Wed, 21 Oct 2015 07:28:00 GMT
        QCOMPARE(parseRetryAfter("120", now), std::optional<double>(120));
        QCOMPARE(parseRetryAfter(" 0 ", now), std::optional<double>(0));
        QCOMPARE(parseRetryAfter("Wed, 21 Oct 2015 07:28:42 GMT", now), std::optional<double>(42));
        QCOMPARE(parseRetryAfter("Wednesday, 21-Oct-15 07:29:00 GMT", now),
                 std::optional<double>(60));
        QCOMPARE(parseRetryAfter("Wed Oct 21 07:28:05 2015", now), std::optional<double>(5));
        QCOMPARE(parseRetryAfter("Wed Oct  1 07:28:05 2015", now), std::optional<double>(0));
        // A date already past means "now", never a negative pause.
        QCOMPARE(parseRetryAfter("Tue, 20 Oct 2015 07:28:00 GMT", now), std::optional<double>(0));
        QVERIFY(*parseRetryAfter("99999999999999999999999", now) > 1e9);
        for (const char* bad : {"", "soon", "-5", "1.5", "Wed, 32 Oct 2015 07:28:00 GMT",
                                "Wed, 21 Oct 2015 07:28:00 CET"})
            QVERIFY2(!parseRetryAfter(bad, now), bad);
    }

    void batchesAreClassifiedAsAWhole() {
        using E = StockError;
        using T = FeedTrouble;
        const auto kind = [](QList<SymbolFailure> f, int quotes = 0) {
            return classifyBatch(batch(std::move(f), quotes));
        };
        QCOMPARE(kind({}), T::none);
        // One symbol the feed does not know changes nothing for the others...
        QCOMPARE(kind({failed("X", E::badResponse, 404)}, 2), T::none);
        // ...nor does a feed that answers "unknown" for every symbol.
        QCOMPARE(kind({failed("X", E::badResponse, 404), failed("Y", E::noData)}), T::none);
        // A rate limit on any request stops the whole feed, even next to good quotes.
        QCOMPARE(kind({failed("X", E::badResponse, 429)}, 3), T::rateLimited);
        QCOMPARE(kind({failed("X", E::badResponse, 503)}), T::rateLimited);
        QCOMPARE(kind({failed("X", E::badResponse, 500), failed("Y", E::transport)}),
                 T::serverError);
        QCOMPARE(kind({failed("X", E::badResponse, 502)}, 1), T::none);
        QCOMPARE(kind({failed("X", E::decoding, 200), failed("Y", E::decoding, 200)}),
                 T::serverError);
        QCOMPARE(kind({failed("X", E::transport), failed("Y", E::transport)}), T::offline);
        QCOMPARE(kind({failed("X", E::transport), failed("Y", E::badResponse, 404)}), T::offline);
    }

    void pausesDoubleToTheirCeilingsAndEndWithAGoodBatch() {
        FeedBackoff backoff;
        backoff.setRandom([] { return 0.5; }); // no spread
        const QuoteBatch limited = batch({failed("X", StockError::badResponse, 429)});
        QCOMPARE(pauses(backoff, limited, 7), (QList<double>{60, 120, 240, 480, 960, 1800, 1800}));
        QCOMPARE(backoff.trouble(), FeedTrouble::rateLimited);
        QCOMPARE(backoff.record(batch({}, 1)), 0.0);
        QCOMPARE(backoff.trouble(), FeedTrouble::none);
        QCOMPARE(pauses(backoff, batch({failed("X", StockError::badResponse, 500)}), 6),
                 (QList<double>{4, 8, 16, 32, 60, 60}));
        // Another kind of trouble starts its own series.
        QCOMPARE(pauses(backoff, batch({failed("X", StockError::transport)}), 6),
                 (QList<double>{2, 4, 8, 16, 30, 30}));
        QCOMPARE(backoff.record(batch({failed("X", StockError::badResponse, 404)})), 0.0);
        QCOMPARE(backoff.streak(), 0);
    }

    void rateLimitPausesAreSpreadWithinTheirCeiling_data() {
        QTest::addColumn<double>("random");
        QTest::addColumn<int>("streak");
        QTest::addColumn<double>("pause");
        QTest::newRow("lowest draw, first") << 0.0 << 1 << 51.0;
        QTest::newRow("highest draw, first") << 0.999999 << 1 << 69.0;
        QTest::newRow("highest draw at the ceiling") << 0.999999 << 7 << 1800.0;
        QTest::newRow("lowest draw at the ceiling") << 0.0 << 7 << 1530.0;
        QTest::newRow("a draw out of range is clamped") << 7.0 << 1 << 69.0;
    }
    void rateLimitPausesAreSpreadWithinTheirCeiling() {
        QFETCH(double, random);
        QFETCH(int, streak);
        QFETCH(double, pause);
        FeedBackoff backoff;
        backoff.setRandom([random] { return random; });
        const QList<double> seen =
            pauses(backoff, batch({failed("X", StockError::badResponse, 429)}), streak);
        QVERIFY2(std::fabs(seen.last() - pause) < 0.01, qPrintable(QString::number(seen.last())));
    }

    void retryAfterIsHonouredUpToHalfAnHour() {
        FeedBackoff backoff;
        backoff.setRandom([] { return 0.5; });
        QCOMPARE(backoff.record(batch({failed("X", StockError::badResponse, 429, 42)})), 42.0);
        QCOMPARE(backoff.record(batch({failed("X", StockError::badResponse, 503, 0)})), 0.0);
        QCOMPARE(backoff.record(batch({failed("X", StockError::badResponse, 429, 1801)})), 1800.0);
        QCOMPARE(backoff.record(batch({failed("X", StockError::badResponse, 429, 1e18)})), 1800.0);
        // Without the header the series goes on where it was.
        QCOMPARE(backoff.record(batch({failed("X", StockError::badResponse, 429)})), 960.0);
    }
};

QTEST_GUILESS_MAIN(TestFeedBackoff)
#include "tst_feedbackoff.moc"
