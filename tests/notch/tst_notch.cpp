#include "clock/manualclock.h"
#include "notch/logocache.h"
#include "notch/notchtheme.h"

#include <QBuffer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

using namespace velline;

namespace {

bool near(const RGBColor& c, double r, double g, double b) {
    return qAbs(c.red - r) < 1e-4 && qAbs(c.green - g) < 1e-4 && qAbs(c.blue - b) < 1e-4;
}

// Answers GET requests on 127.0.0.1 from a table of path -> (status, body); a path with a
// null body is never answered. Records every requested path.
class LogoServer : public QTcpServer {
public:
    LogoServer() {
        connect(this, &QTcpServer::newConnection, this, [this] {
            QTcpSocket* s = nextPendingConnection();
            connect(s, &QTcpSocket::readyRead, this, [this, s] {
                if (std::exchange(seen[s], true))
                    return;
                const QByteArray path = s->readAll().split(' ').value(1);
                requests << path;
                const auto [status, body] = answers.value(path, {404, ""});
                if (!body.isNull())
                    s->write("HTTP/1.1 " + QByteArray::number(status) +
                             " X\r\nContent-Length: " + QByteArray::number(body.size()) +
                             "\r\nConnection: close\r\n\r\n" + body);
            });
        });
        listen(QHostAddress::LocalHost);
    }
    QString prefix() const {
        return LogoCache::prefixFromBase(QStringLiteral("http://127.0.0.1:%1").arg(serverPort()));
    }
    QHash<QByteArray, QPair<int, QByteArray>> answers;
    QList<QByteArray> requests;
    QHash<QTcpSocket*, bool> seen;
};

QByteArray png(QColor color, QSize size = QSize(4, 4)) {
    QImage image(size, QImage::Format_ARGB32);
    image.fill(color);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return buffer.data();
}

} // namespace

class TestNotch : public QObject {
    Q_OBJECT
private Q_SLOTS:
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

        QCOMPARE(spikeVariant(RGBColor{1, 1, 1}), (RGBColor{1, 1, 1}));
        QCOMPARE(spikeVariant(RGBColor{0, 0, 0}), (RGBColor{0, 0, 0}));
        QCOMPARE(spikeVariant(RGBColor{qQNaN(), 0.5, 0.5}), (RGBColor{0, 0, 0}));
    }

    void liveThemeFollowsTheSchemeAndTheFuturesFlag() {
        QTemporaryDir dir;
        QSettings settings(dir.filePath(QStringLiteral("v.conf")), QSettings::IniFormat);
        UserPreferences prefs(&settings);
        NotchThemeSource source(&prefs, nullptr);
        QSignalSpy changed(&source, &NotchThemeSource::themeChanged);
        ColorSchemePrefs scheme;
        scheme.futuresUp = RGBColor{0.1, 0.2, 0.3};
        prefs.setColorScheme(scheme);
        QCOMPARE(source.theme(), NotchTheme::equity(scheme));
        source.setIsAfterHours(true);
        QCOMPARE(changed.size(), 2);
        QCOMPARE(source.theme(), NotchTheme::futures(scheme));
    }

    void addressesAndPlaceholderLetters() {
        ManualClock clock;
        LogoCache cache(&clock, LogoCache::prefixFromBase(QStringLiteral("http://h.test:9/")));
        auto url = [&](const char* s) { return cache.logoURL(s)->toString(QUrl::FullyEncoded); };
        QCOMPARE(url("^GSPC"), QStringLiteral("http://h.test:9/image-stock/SPY.png"));
        QCOMPARE(url("^VIX"), QStringLiteral("http://h.test:9/image-stock/%5EVIX.png"));
        QCOMPARE(url("BRK B"), QStringLiteral("http://h.test:9/image-stock/BRK%20B.png"));
        QVERIFY(!cache.logoURL(QStringLiteral(" ")));
        LogoCache broken(&clock, QStringLiteral("not a url/"));
        broken.prefetch(QStringLiteral("AAPL")); // no address: nothing recorded
        QVERIFY(broken.inflight().isEmpty());

        QCOMPARE(LogoCache::placeholderLetter(QStringLiteral("^VIX")), QStringLiteral("V"));
        QCOMPARE(LogoCache::placeholderLetter(QStringLiteral("^^")), QString());
        QCOMPARE(LogoCache::placeholderLetter(QStringLiteral("e\u0301X")),
                 QStringLiteral("e\u0301"));
    }

    void oneRequestPerKeyAndImagesReachTheProvider() {
        LogoServer server;
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
        QCOMPARE(cache.image(QStringLiteral("AAPL")).size(), QSize(4, 4));
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
    }

    void failuresAreRetriedAndStallsGiveUp() {
        LogoServer server;
        server.answers["/image-stock/BAD.png"] = {200, "<html>not an image</html>"};
        server.answers["/image-stock/SLOW.png"] = {200, QByteArray()};
        ManualClock clock;
        LogoCache cache(&clock, server.prefix());
        cache.prefetch(QStringLiteral("BAD"));
        QTRY_VERIFY(cache.inflight().isEmpty());
        cache.prefetch(QStringLiteral("BAD")); // failures are not remembered
        QTRY_COMPARE(server.requests.count("/image-stock/BAD.png"), 2);
        QTRY_VERIFY(cache.inflight().isEmpty());

        cache.prefetch(QStringLiteral("SLOW"));
        QTRY_COMPARE(server.requests.count("/image-stock/SLOW.png"), 1);
        clock.advance(LogoCache::downloadTimeoutSeconds - 1);
        cache.prefetch(QStringLiteral("slow")); // still loading: no second request
        QVERIFY(cache.inflight().contains(QStringLiteral("SLOW")));
        clock.advance(1);
        QTRY_VERIFY(cache.inflight().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestNotch)
#include "tst_notch.moc"
