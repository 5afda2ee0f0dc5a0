#pragma once

// Pieces the notch tests share, with the headers they all use: private preferences, quotes that
// come only when the test says so, plain records and spikes, and a logo service on 127.0.0.1.

#include "clock/manualclock.h"
#include "notch/logocache.h"
#include "prefs/userpreferences.h"
#include "state/appstate.h"

#include <QBuffer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

namespace notchrig {

using namespace velline;

// A preference store of its own, in a settings file in a private folder.
struct Prefs {
    QTemporaryDir dir;
    QSettings settings{dir.filePath(QStringLiteral("v.conf")), QSettings::IniFormat};
    UserPreferences prefs{&settings};
};

// Never answers by itself: the last batch asked for waits in `pending`.
class HeldQuotes : public QuoteSource {
public:
    void fetchQuotes(const QStringList&, QObject*, std::function<void(QList<Quote>)>) override {}
    void fetchBatch(const QStringList&, QObject*, std::function<void(QuoteBatch)> done) override {
        pending = std::move(done);
    }
    std::function<void(QuoteBatch)> pending;
};

inline Stock stock(const QString& symbol, double price, double previousClose = 100) {
    Stock s;
    std::tie(s.symbol, s.price, s.previousClose) = std::tie(symbol, price, previousClose);
    return s;
}

inline AlertEvent spike(const QString& symbol, Stock::Direction d = Stock::Direction::up,
                        double at = 0) {
    return AlertEvent{QUuid::createUuid(), symbol, AlertEvent::Reason::spike(), d, at};
}

inline QByteArray encoded(const QImage& image, const char* format = "PNG") {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return buffer.data();
}

inline QByteArray png(QColor color, QSize size = QSize(4, 4)) {
    QImage image(size, QImage::Format_ARGB32);
    image.fill(color);
    return encoded(image);
}

// Answers GET requests by path from `answers` (a null body: never) and records every path asked.
class LogoServer : public QTcpServer {
public:
    LogoServer() {
        connect(this, &QTcpServer::newConnection, this, [this] {
            QTcpSocket* s = nextPendingConnection();
            connect(s, &QTcpSocket::readyRead, this, [this, s] {
                s->disconnect(this); // the first piece of a request names it
                requests << s->readAll().split(' ').value(1);
                const auto [status, body] = answers.value(requests.last(), {404, ""});
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
};

} // namespace notchrig
