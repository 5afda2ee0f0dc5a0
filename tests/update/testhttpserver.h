#pragma once

// A small HTTP/1.1 server on 127.0.0.1 for the updater tests: serves fixed bodies per path, and
// can stall (read the request, never answer) or break off half-way through a body.

#include <QHash>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

class TestHttpServer : public QObject {
public:
    enum class Mode { normal, stall, truncate };
    struct Route {
        QByteArray body;
        Mode mode = Mode::normal;
        int status = 200;
        QByteArray contentType = "application/octet-stream";
    };

    TestHttpServer() {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                m_sockets.append(socket);
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
            }
        });
    }

    bool listen() { return m_server.listen(QHostAddress::LocalHost); }
    QUrl url(const QString& path) const {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path));
    }
    void route(const QByteArray& path, Route route) { m_routes.insert(path, std::move(route)); }
    int hits(const QByteArray& path) const { return m_hits.value(path); }

private:
    void serve(QTcpSocket* socket) {
        QByteArray& buffer = m_buffers[socket];
        buffer += socket->readAll();
        const qsizetype end = buffer.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        const QList<QByteArray> requestLine = buffer.left(buffer.indexOf("\r\n")).split(' ');
        buffer.clear();
        const QByteArray path = requestLine.value(1);
        ++m_hits[path];
        if (!m_routes.contains(path)) {
            socket->write("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
            return;
        }
        const Route& r = m_routes[path];
        if (r.mode == Mode::stall)
            return;
        QByteArray head = "HTTP/1.1 " + QByteArray::number(r.status) + " Status\r\n";
        head += "Content-Type: " + r.contentType + "\r\n";
        head += "Content-Length: " + QByteArray::number(r.body.size()) + "\r\n";
        head += "Connection: close\r\n\r\n";
        socket->write(head);
        if (r.mode == Mode::truncate) {
            socket->write(r.body.left(r.body.size() / 2));
            socket->disconnectFromHost();
            return;
        }
        socket->write(r.body);
        socket->disconnectFromHost();
    }

    QTcpServer m_server;
    QList<QPointer<QTcpSocket>> m_sockets;
    QHash<QTcpSocket*, QByteArray> m_buffers;
    QHash<QByteArray, Route> m_routes;
    QHash<QByteArray, int> m_hits;
};
