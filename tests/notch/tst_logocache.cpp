#include "clock/manualclock.h"
#include "notch/logocache.h"

#include <QBuffer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

using namespace velline;

namespace {

// A tiny HTTP server on 127.0.0.1: answers each path from a table, records every request,
// and never answers paths marked as stalled.
class LogoServer : public QObject {
public:
    struct Answer {
        int status = 200;
        QByteArray body;
        bool stall = false;
    };

    LogoServer() {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
            }
        });
        m_server.listen(QHostAddress::LocalHost);
    }

    QString base() const {
        return QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort());
    }
    void set(const QByteArray& path, Answer answer) { m_answers.insert(path, std::move(answer)); }
    QList<QByteArray> requests;

private:
    void serve(QTcpSocket* socket) {
        QByteArray& buffer = m_pending[socket];
        buffer += socket->readAll();
        if (!buffer.contains("\r\n\r\n"))
            return;
        const QByteArray path = buffer.split(' ').value(1);
        m_pending.remove(socket);
        requests.append(path);
        const Answer answer = m_answers.value(path, Answer{404, "missing", false});
        if (answer.stall)
            return;
        socket->write("HTTP/1.1 " + QByteArray::number(answer.status) +
                      " X\r\nContent-Type: image/png\r\nContent-Length: " +
                      QByteArray::number(answer.body.size()) + "\r\nConnection: close\r\n\r\n" +
                      answer.body);
        socket->disconnectFromHost();
    }

    QTcpServer m_server;
    QHash<QByteArray, Answer> m_answers;
    QHash<QTcpSocket*, QByteArray> m_pending;
};

QByteArray png(QColor color) {
    QImage image(4, 4, QImage::Format_ARGB32);
    image.fill(color);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

} // namespace

class TestLogoCache : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void addressesUseAliasesAndPercentEncoding() {
        ManualClock clock;
        LogoCache cache(&clock, LogoCache::prefixFromBase(QStringLiteral("http://127.0.0.1:9/")));
        QCOMPARE(cache.prefix(), QStringLiteral("http://127.0.0.1:9/image-stock/"));
        QCOMPARE(LogoCache::prefixFromBase(QStringLiteral("https://x.test/image-stock")),
                 QStringLiteral("https://x.test/image-stock/"));

        QCOMPARE(cache.logoURL(QStringLiteral("^GSPC"))->toString(),
                 QStringLiteral("http://127.0.0.1:9/image-stock/SPY.png"));
        QCOMPARE(cache.logoURL(QStringLiteral("^IXIC"))->path(),
                 QStringLiteral("/image-stock/QQQ.png"));
        QCOMPARE(cache.logoURL(QStringLiteral("^VIX"))->toString(QUrl::FullyEncoded),
                 QStringLiteral("http://127.0.0.1:9/image-stock/%5EVIX.png"));
        QCOMPARE(cache.logoURL(QStringLiteral("BRK B"))->toString(QUrl::FullyEncoded),
                 QStringLiteral("http://127.0.0.1:9/image-stock/BRK%20B.png"));
        QCOMPARE(cache.logoURL(QStringLiteral("ES=F"))->toString(QUrl::FullyEncoded),
                 QStringLiteral("http://127.0.0.1:9/image-stock/ES=F.png"));
        QVERIFY(!cache.logoURL(QString()));
        QVERIFY(!cache.logoURL(QStringLiteral("  ")));

        LogoCache broken(&clock, QStringLiteral("not a url/"));
        QVERIFY(!broken.logoURL(QStringLiteral("AAPL")));
        broken.prefetch(QStringLiteral("AAPL")); // no address: nothing recorded, no request
        QVERIFY(broken.inflight().isEmpty());

        QCOMPARE(LogoCache::placeholderLetter(QStringLiteral("^VIX")), QStringLiteral("V"));
        QCOMPARE(LogoCache::placeholderLetter(QStringLiteral("^^X^")), QStringLiteral("X"));
        QCOMPARE(LogoCache::placeholderLetter(QStringLiteral("^^")), QString());
        QCOMPARE(LogoCache::placeholderLetter(QStringLiteral("e\u0301TF")),
                 QStringLiteral("e\u0301"));
    }

    void oneRequestPerKeyAndImagesReachTheProvider() {
        LogoServer server;
        server.set("/image-stock/AAPL.png", {200, png(Qt::red)});
        server.set("/image-stock/SPY.png", {200, png(Qt::blue)});
        ManualClock clock;
        LogoCache cache(&clock, LogoCache::prefixFromBase(server.base()));
        QSignalSpy arrived(&cache, &LogoCache::logoArrived);

        cache.prefetch(QStringLiteral("aapl"));
        cache.prefetch(QStringLiteral("AAPL"));
        QCOMPARE(cache.inflight(), QSet<QString>{QStringLiteral("AAPL")});
        QCOMPARE(cache.logoSource(QStringLiteral("AAPL")), QUrl());
        QTRY_COMPARE(arrived.size(), 1);
        QCOMPARE(server.requests, QList<QByteArray>{"/image-stock/AAPL.png"});
        QCOMPARE(arrived.first().first().toString(), QStringLiteral("AAPL"));
        QVERIFY(cache.inflight().isEmpty());
        QCOMPARE(cache.revision(), 1);
        cache.prefetch(QStringLiteral("Aapl")); // cached: no second download
        QCOMPARE(cache.inflight().size(), 0);

        cache.prefetch(QStringLiteral("^GSPC"));
        QTRY_COMPARE(arrived.size(), 2);
        QCOMPARE(server.requests.last(), QByteArray("/image-stock/SPY.png"));
        QVERIFY(cache.hasLogo(QStringLiteral("^gspc")));
        QVERIFY(!cache.hasLogo(QStringLiteral("SPY")));

        // The QML path: the source names the symbol safely, the provider decodes it back.
        const QUrl source = cache.logoSource(QStringLiteral("^GSPC"));
        QCOMPARE(source.scheme(), QStringLiteral("image"));
        QCOMPARE(source.host(), QStringLiteral("logo"));
        LogoImageProvider provider(&cache);
        QSize size;
        const QImage image =
            provider.requestImage(source.path(QUrl::FullyEncoded).mid(1), &size, QSize());
        QCOMPARE(size, QSize(4, 4));
        QCOMPARE(image.pixelColor(0, 0), QColor(Qt::blue));
        QVERIFY(provider.requestImage(QStringLiteral("MSFT"), &size, QSize()).isNull());
    }

    void failuresAreRetriedAndStallsGiveUp() {
        LogoServer server;
        server.set("/image-stock/BAD.png", {200, "<html>not an image</html>"});
        server.set("/image-stock/GONE.png", {500, ""});
        server.set("/image-stock/SLOW.png", {200, {}, true});
        ManualClock clock;
        LogoCache cache(&clock, LogoCache::prefixFromBase(server.base()));
        QSignalSpy arrived(&cache, &LogoCache::logoArrived);

        cache.prefetch(QStringLiteral("BAD"));
        cache.prefetch(QStringLiteral("GONE"));
        QTRY_VERIFY(!cache.inflight().contains(QStringLiteral("BAD")));
        QTRY_VERIFY(!cache.inflight().contains(QStringLiteral("GONE")));
        QVERIFY(cache.images().isEmpty());
        cache.prefetch(QStringLiteral("BAD")); // not remembered: tried again
        QTRY_COMPARE(server.requests.count("/image-stock/BAD.png"), 2);
        QTRY_VERIFY(cache.inflight().isEmpty());

        cache.prefetch(QStringLiteral("SLOW"));
        QTRY_COMPARE(server.requests.count("/image-stock/SLOW.png"), 1);
        clock.advance(LogoCache::downloadTimeoutSeconds - 1);
        QVERIFY(cache.inflight().contains(QStringLiteral("SLOW")));
        cache.prefetch(QStringLiteral("slow")); // still loading: no second request
        clock.advance(1);
        QTRY_VERIFY(cache.inflight().isEmpty());
        server.set("/image-stock/SLOW.png", {200, png(Qt::green)});
        cache.prefetch(QStringLiteral("SLOW"));
        QTRY_COMPARE(arrived.size(), 1);
        QCOMPARE(server.requests.count("/image-stock/SLOW.png"), 2);
    }
};

QTEST_GUILESS_MAIN(TestLogoCache)
#include "tst_logocache.moc"
