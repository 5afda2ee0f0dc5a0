#include "clock/manualclock.h"
#include "notch/feednote.h"
#include "notch/logodecode.h"
#include "prefs/userpreferences.h"

#include <QBuffer>
#include <QImage>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <ctime>

using namespace velline;
using Status = AppState::FeedStatus;

namespace {

constexpr double t0 = 1704898800; // Wednesday 2024-01-10, 10:00 New York, 16:00 in Berlin

feednote::Situation stale(Status status, FeedTrouble trouble, std::optional<double> resumesAt,
                          std::optional<double> lastGood) {
    return {status, trouble, resumesAt, lastGood, true};
}

QByteArray encoded(const QImage& image, const char* format) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return buffer.data();
}

class Held : public QuoteSource {
public:
    void fetchQuotes(const QStringList&, QObject*, std::function<void(QList<Quote>)>) override {}
    void fetchBatch(const QStringList&, QObject*, std::function<void(QuoteBatch)> done) override {
        pending = std::move(done);
    }
    std::function<void(QuoteBatch)> pending;
};

} // namespace

class TestFeedNote : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        qputenv("TZ", "Europe/Berlin");
        tzset();
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
    }

    void linesSayWhatTheFeedIsDoing() {
        using feednote::line;
        // Fresh quotes: no line, whatever the status.
        QCOMPARE(line({Status::paused, FeedTrouble::rateLimited, t0 + 42, t0, false}, t0),
                 QString());
        QCOMPARE(line(stale(Status::paused, FeedTrouble::rateLimited, t0 + 42, t0 - 40), t0),
                 QStringLiteral("The quote feed asked Velline to slow down — retrying in 42 s"));
        // Whole seconds, counted up, never below one.
        QCOMPARE(line(stale(Status::paused, FeedTrouble::rateLimited, t0 + 41.2, {}), t0),
                 QStringLiteral("The quote feed asked Velline to slow down — retrying in 42 s"));
        QCOMPARE(line(stale(Status::paused, FeedTrouble::rateLimited, t0 - 3, {}), t0),
                 QStringLiteral("The quote feed asked Velline to slow down — retrying in 1 s"));
        QCOMPARE(line(stale(Status::paused, FeedTrouble::serverError, t0 + 8, {}), t0),
                 QStringLiteral("The quote feed is having trouble — retrying in 8 s"));
        // Local time (Berlin here) of the last good refresh.
        QCOMPARE(line(stale(Status::offline, FeedTrouble::offline, t0 + 2, t0 - 28 * 60), t0),
                 QStringLiteral("Offline — prices from 15:32"));
        QCOMPARE(line(stale(Status::live, FeedTrouble::none, {}, t0 - 86400), t0),
                 QStringLiteral("Offline — prices from 09/01/2024 16:00"));
        QCOMPARE(line(stale(Status::offline, FeedTrouble::offline, t0 + 2, {}), t0),
                 QStringLiteral("Offline — no prices yet"));
    }

    void anEmptyCardTellsAnEmptyListFromMissingQuotes() {
        using feednote::emptyCardText;
        const feednote::Situation fresh;
        QCOMPARE(emptyCardText(false, fresh, t0), QStringLiteral("No tracked stocks"));
        QCOMPARE(emptyCardText(true, fresh, t0), QStringLiteral("Waiting for quotes…"));
        QCOMPARE(emptyCardText(true, stale(Status::offline, FeedTrouble::offline, t0 + 4, {}), t0),
                 QStringLiteral("Offline — no prices yet"));
        QCOMPARE(emptyCardText(false, stale(Status::offline, FeedTrouble::offline, t0, {}), t0),
                 QStringLiteral("No tracked stocks"));
    }

    void theModelFollowsTheStateAndCountsDown() {
        QTemporaryDir dir;
        QSettings settings(dir.filePath(QStringLiteral("v.ini")), QSettings::IniFormat);
        UserPreferences prefs(&settings);
        prefs.setTrackedSymbols({"AAPL"});
        prefs.setShowFuturesAfterHours(false);
        Held source;
        ManualClock clock(t0);
        AppState state(&prefs, &source, &clock, {});
        FeedNoteModel model(&clock, nullptr);
        model.setState(&state);
        QCOMPARE(model.emptyText(), QStringLiteral("Waiting for quotes…"));
        QCOMPARE(model.trailingOpacity(), 1.0);

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
        QCOMPARE(model.line(),
                 QStringLiteral("The quote feed asked Velline to slow down — retrying in 270 s"));
        QCOMPARE(model.emptyText(), model.line());
        QSignalSpy changed(&model, &FeedNoteModel::changed);
        clock.advanceTo(t0 + 31);
        QCOMPARE(model.line(),
                 QStringLiteral("The quote feed asked Velline to slow down — retrying in 269 s"));
        QCOMPARE(changed.size(), 1);

        prefs.setTrackedSymbols({});
        QCOMPARE(model.emptyText(), QStringLiteral("No tracked stocks"));
    }

    void logosStayWithinTheirLimits() {
        QImage small(40, 20, QImage::Format_ARGB32);
        small.fill(Qt::red);
        const QImage decoded = logo::decodeLogo(encoded(small, "PNG"));
        QCOMPARE(decoded.size(), QSize(40, 20));
        QVERIFY(!logo::decodeLogo(encoded(small, "JPEG")).isNull());
        // Larger pictures are kept at most 128 pixels on their longer side.
        QImage large(1000, 500, QImage::Format_RGB32);
        large.fill(Qt::blue);
        QCOMPARE(logo::decodeLogo(encoded(large, "PNG")).size(), QSize(128, 64));
        // Over the declared size limit: refused without decoding (a 2049-pixel-wide PNG
        // compresses to a few kilobytes, so only the header check stops it).
        QImage wide(logo::maxSourceEdge + 1, 8, QImage::Format_RGB32);
        wide.fill(Qt::white);
        const QByteArray widePng = encoded(wide, "PNG");
        QVERIFY(widePng.size() < 64 * 1024);
        QVERIFY(logo::decodeLogo(widePng).isNull());
        // A header that claims a gigantic picture.
        QByteArray bomb = encoded(small, "PNG");
        bomb.replace(16, 8, QByteArray::fromHex("0000ffff0000ffff"));
        QVERIFY(logo::decodeLogo(bomb).isNull());
        // Over a mebibyte of body, even if it were a fine picture; and formats a logo never is.
        QVERIFY(logo::decodeLogo(QByteArray(logo::maxBodyBytes + 1, 'x')).isNull());
        QVERIFY(logo::decodeLogo(encoded(small, "BMP")).isNull());
        QVERIFY(logo::decodeLogo(QByteArray("<svg xmlns='http://www.w3.org/2000/svg'/>")).isNull());
        QVERIFY(logo::decodeLogo({}).isNull());
    }
};

QTEST_GUILESS_MAIN(TestFeedNote)
#include "tst_feednote.moc"
