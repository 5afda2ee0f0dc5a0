#include "notch/feednote.h"
#include "notch/logodecode.h"
#include "notch/notchtheme.h"
#include "notchrig.h"

using namespace velline;
using notchrig::encoded;
using notchrig::LogoServer;
using notchrig::png;
using Status = AppState::FeedStatus;

namespace {

bool near(const RGBColor& c, double r, double g, double b) {
    return qAbs(c.red - r) < 1e-4 && qAbs(c.green - g) < 1e-4 && qAbs(c.blue - b) < 1e-4;
}

constexpr double t0 = 1704898800; // Wednesday 2024-01-10, 10:00 New York, 16:00 in Berlin

QString slowDown(int seconds) {
    return QStringLiteral("The quote feed asked Velline to slow down — retrying in %1 s")
        .arg(seconds);
}

} // namespace

class TestNotch : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom)); }

    void themesUseFixedDefaultsAndDeriveOverridesPerSide() {
        const NotchTheme equity = NotchTheme::select({}, false);
        // The spike defaults are fixed, not derived (deriving would give ~0.649, 0.968, 0.732).
        QVERIFY(near(equity.spikePositive, 0.68, 0.96, 0.74));
        QVERIFY(near(equity.spikeNegative, 1.0, 0.58, 0.58));
        QVERIFY(!equity.modeLabel);
        const NotchTheme futures = NotchTheme::select({}, true);
        QVERIFY(near(futures.spikePositive, 0.98, 0.82, 0.40));
        QCOMPARE(futures.modeLabel, std::optional<QString>(QStringLiteral("Futures")));

        ColorSchemePrefs scheme;
        scheme.equityUp = RGBColor{0.2, 0.4, 0.6};
        scheme.futuresDown = RGBColor{0.9, 0.5, 0.1};
        const NotchTheme mine = NotchTheme::equity(scheme);
        QVERIFY(near(mine.spikePositive, 0.236, 0.472, 0.708));
        QCOMPARE(mine.mutedNegative, equity.mutedNegative); // the other side keeps its default
        const NotchTheme mineFutures = NotchTheme::futures(scheme);
        QCOMPARE(mineFutures.mutedPositive, futures.mutedPositive);    // equity override unused
        QVERIFY(near(mineFutures.spikeNegative, 1.0, 0.5556, 0.1111)); // capped at 1.0

        QCOMPARE(spikeVariant(RGBColor{qQNaN(), 0.5, 0.5}), (RGBColor{0, 0, 0}));

        // The live theme follows the stored scheme and the futures flag.
        notchrig::Prefs rig;
        NotchThemeSource source(&rig.prefs, nullptr);
        rig.prefs.setColorScheme(scheme);
        QCOMPARE(source.theme(), NotchTheme::equity(scheme));
        source.setIsAfterHours(true);
        QCOMPARE(source.theme(), NotchTheme::futures(scheme));
    }

    void addressesAndPlaceholderLetters() {
        ManualClock clock;
        LogoCache cache(&clock, LogoCache::prefixFromBase(QStringLiteral("http://h.test:9/")));
        auto url = [&](const char* s) { return cache.logoURL(s)->toString(QUrl::FullyEncoded); };
        QCOMPARE(url("^GSPC"), QStringLiteral("http://h.test:9/image-stock/SPY.png"));
        QCOMPARE(url("^VIX"), QStringLiteral("http://h.test:9/image-stock/%5EVIX.png"));
        QVERIFY(!cache.logoURL(QStringLiteral(" ")));
        LogoCache broken(&clock, QStringLiteral("not a url/"));
        broken.prefetch(QStringLiteral("AAPL")); // no address: nothing recorded
        QVERIFY(broken.inflight().isEmpty());

        QCOMPARE(LogoCache::placeholderLetter(QStringLiteral("^VIX")), QStringLiteral("V"));
        QCOMPARE(LogoCache::placeholderLetter(QStringLiteral("^^")), QString());
        QCOMPARE(LogoCache::placeholderLetter(QStringLiteral("e\u0301X")),
                 QStringLiteral("e\u0301"));
    }

    void oneRequestPerKeyFailuresRetriedStallsGivenUp() {
        LogoServer server;
        server.answers["/image-stock/BAD.png"] = {200, "<html>not an image</html>"};
        server.answers["/image-stock/SLOW.png"] = {200, QByteArray()};
        server.answers["/image-stock/AAPL.png"] = {200, png(Qt::red)};
        server.answers["/image-stock/SPY.png"] = {200, png(Qt::blue)};
        server.answers["/image-stock/BIG.png"] = {200, png(Qt::green, QSize(400, 200))};
        ManualClock clock;
        LogoCache cache(&clock, server.prefix());
        QSignalSpy arrived(&cache, &LogoCache::logoArrived);
        cache.prefetch(QStringLiteral("aapl"));
        cache.prefetch(QStringLiteral("AAPL"));
        cache.prefetch(QStringLiteral("^GSPC"));
        cache.prefetch(QStringLiteral("BIG"));
        QTRY_COMPARE(arrived.size(), 3);
        // A large picture is kept small, in its own proportions; small ones as they came.
        QCOMPARE(cache.image(QStringLiteral("BIG")).size(),
                 QSize(LogoCache::maxLogoPixels, LogoCache::maxLogoPixels / 2));
        cache.prefetch(QStringLiteral("Aapl")); // cached: no new download
        std::sort(server.requests.begin(), server.requests.end());
        QCOMPARE(server.requests,
                 (QList<QByteArray>{"/image-stock/AAPL.png", "/image-stock/BIG.png",
                                    "/image-stock/SPY.png"}));
        QVERIFY(cache.hasLogo(QStringLiteral("^gspc")) && !cache.hasLogo(QStringLiteral("SPY")));

        // What QML asks for: the source names the symbol safely, the provider decodes it.
        const QUrl source = cache.logoSource(QStringLiteral("^GSPC"));
        QCOMPARE(source.toString(QUrl::FullyEncoded), QStringLiteral("image://logo/%5EGSPC"));
        LogoImageProvider provider(&cache);
        QSize size;
        QCOMPARE(provider.requestImage(source.path(QUrl::FullyEncoded).mid(1), &size, {})
                     .pixelColor(0, 0),
                 QColor(Qt::blue));
        QCOMPARE(size, QSize(4, 4));

        cache.prefetch(QStringLiteral("BAD"));
        QTRY_VERIFY(cache.inflight().isEmpty());
        cache.prefetch(QStringLiteral("BAD")); // failures are not remembered
        QTRY_COMPARE(server.requests.count("/image-stock/BAD.png"), 2);

        cache.prefetch(QStringLiteral("SLOW"));
        QTRY_COMPARE(server.requests.count("/image-stock/SLOW.png"), 1);
        clock.advance(LogoCache::downloadTimeoutSeconds - 1);
        cache.prefetch(QStringLiteral("slow")); // still loading: no second request
        QVERIFY(cache.inflight().contains(QStringLiteral("SLOW")));
        clock.advance(1);
        QTRY_VERIFY(cache.inflight().isEmpty());
    }

    void linesSayWhatTheFeedIsDoing() {
        using feednote::line;
        const auto say = [](Status status, FeedTrouble trouble, std::optional<double> resumesAt,
                            std::optional<double> lastGood) {
            return line({status, trouble, resumesAt, lastGood, true}, t0); // stale quotes
        };
        // Fresh quotes: no line, whatever the status.
        QCOMPARE(line({Status::paused, FeedTrouble::rateLimited, t0 + 42, t0, false}, t0),
                 QString());
        QCOMPARE(say(Status::paused, FeedTrouble::rateLimited, t0 + 42, t0 - 40), slowDown(42));
        // Whole seconds, counted up, never below one.
        QCOMPARE(say(Status::paused, FeedTrouble::rateLimited, t0 + 41.2, {}), slowDown(42));
        QCOMPARE(say(Status::paused, FeedTrouble::rateLimited, t0 - 3, {}), slowDown(1));
        QCOMPARE(say(Status::paused, FeedTrouble::serverError, t0 + 8, {}),
                 QStringLiteral("The quote feed is having trouble — retrying in 8 s"));
        // Local time (Berlin here) of the last good refresh.
        QCOMPARE(say(Status::offline, FeedTrouble::offline, t0 + 2, t0 - 28 * 60),
                 QStringLiteral("Offline — prices from 15:32"));
        QCOMPARE(say(Status::live, FeedTrouble::none, {}, t0 - 86400),
                 QStringLiteral("Offline — prices from 09/01/2024 16:00"));
        QCOMPARE(say(Status::offline, FeedTrouble::offline, t0 + 2, {}),
                 QStringLiteral("Offline — no prices yet"));

        // An empty card tells an empty list from missing quotes.
        using feednote::emptyCardText;
        QCOMPARE(emptyCardText(false, {}, t0), QStringLiteral("No tracked stocks"));
        QCOMPARE(emptyCardText(true, {}, t0), QStringLiteral("Waiting for quotes…"));
        QCOMPARE(emptyCardText(false, {Status::offline, FeedTrouble::offline, t0, {}, true}, t0),
                 QStringLiteral("No tracked stocks"));
    }

    void theModelFollowsTheStateAndCountsDown() {
        notchrig::Prefs rig;
        UserPreferences& prefs = rig.prefs;
        prefs.setTrackedSymbols({"AAPL"});
        prefs.setShowFuturesAfterHours(false);
        notchrig::HeldQuotes source;
        ManualClock clock(t0);
        AppState state(&prefs, &source, &clock, {});
        FeedNoteModel model(&clock, nullptr);
        model.setState(&state);

        state.start();
        clock.runDue();
        QuoteBatch limited;
        limited.failures.append(
            {"AAPL", QuoteFailure{StockError::badResponse, {}, 429, std::optional<double>(300)}});
        limited.attempted = 1;
        std::exchange(source.pending, nullptr)(limited);
        QCOMPARE(model.line(), QString()); // not stale yet
        clock.advanceTo(t0 + 29.999);
        QCOMPARE(model.trailingOpacity(), 1.0);
        clock.advanceTo(t0 + 30);
        QCOMPARE(model.trailingOpacity(), 0.5);
        QCOMPARE(model.line(), slowDown(270));
        QCOMPARE(model.emptyText(), model.line());
        QSignalSpy changed(&model, &FeedNoteModel::changed);
        clock.advanceTo(t0 + 31);
        QCOMPARE(model.line(), slowDown(269));
        QCOMPARE(changed.size(), 1);

        prefs.setTrackedSymbols({});
        QCOMPARE(model.emptyText(), QStringLiteral("No tracked stocks"));
    }

    void logoFormatComesFromTheFirstBytes_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("format");
        QTest::newRow("png") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16)
                             << QByteArray("png");
        QTest::newRow("png cut short") << QByteArray("\x89PNG\r\n\x1a") << QByteArray();
        QTest::newRow("jpeg") << QByteArray("\xff\xd8\xff\xe0\0\x10JFIF", 10) << QByteArray("jpeg");
        QTest::newRow("gif89a") << QByteArray("GIF89a\x10\0") << QByteArray("gif");
        QTest::newRow("gif of another year") << QByteArray("GIF90a\x10\0") << QByteArray();
        QTest::newRow("webp") << QByteArray("RIFF\x24\0\0\0WEBPVP8 ", 16) << QByteArray("webp");
        QTest::newRow("riff, not webp") << QByteArray("RIFF\x24\0\0\0WAVEfmt ", 16) << QByteArray();
        QTest::newRow("tiff") << QByteArray("II*\0\x08\0\0\0", 8) << QByteArray();
        QTest::newRow("png after a space") << QByteArray(" \x89PNG\r\n\x1a\n") << QByteArray();
    }

    void logoFormatComesFromTheFirstBytes() {
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, format);
        QCOMPARE(logo::formatOf(body), format);
    }

    void logosStayWithinTheirLimits() {
        QImage small(40, 20, QImage::Format_ARGB32);
        small.fill(Qt::red);
        QCOMPARE(logo::decodeLogo(encoded(small, "PNG")).size(), QSize(40, 20));
        QVERIFY(!logo::decodeLogo(encoded(small, "JPEG")).isNull());
        // Qt writes no GIF: the smallest one there is, a single pixel.
        const QByteArray gif("GIF89a\x01\0\x01\0\x80\0\0\xff\xff\xff\0\0\0!\xf9\x04\x01\0\0\0\0,"
                             "\0\0\0\0\x01\0\x01\0\0\x02\x02"
                             "D\x01\0;",
                             43);
        QCOMPARE(logo::decodeLogo(gif).size(), QSize(1, 1));
        QVERIFY(!logo::decodeLogo(encoded(small, "WEBP")).isNull());
        // Over the declared size limit: refused without decoding (a 2049-pixel-wide PNG
        // compresses to a few kilobytes, so only the header check stops it).
        QImage wide(logo::maxSourceEdge + 1, 8, QImage::Format_RGB32);
        wide.fill(Qt::white);
        QVERIFY(logo::decodeLogo(encoded(wide, "PNG")).isNull());
        // Over a mebibyte of body, even if it were a fine picture; and formats a logo never is.
        for (const QByteArray& refused :
             {QByteArray(logo::maxBodyBytes + 1, 'x'), encoded(small, "BMP"),
              QByteArray("<svg xmlns='http://www.w3.org/2000/svg'/>"), QByteArray()})
            QVERIFY(logo::decodeLogo(refused).isNull());
    }
};

QTEST_GUILESS_MAIN(TestNotch)
#include "tst_notch.moc"
