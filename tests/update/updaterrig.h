#pragma once

// The updater against a release feed and packages served on 127.0.0.1, in virtual time, with
// its settings and downloads in a private folder.

#include "clock/manualclock.h"
#include "feedfixture.h"
#include "update/signature.h"
#include "update/updater.h"

#include <QDir>
#include <QHash>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// A small HTTP/1.1 server on 127.0.0.1: serves fixed bodies per path, and can stall (read the
// request, never answer) or break off half-way through a body.
struct TestHttpServer : QObject {
    enum class Mode { normal, stall, truncate };
    struct Route {
        QByteArray body;
        Mode mode = Mode::normal;
        int status = 200;
    };

    TestHttpServer() {
        m_server.listen(QHostAddress::LocalHost);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
        });
    }

    QUrl url(const QString& path) const {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path));
    }
    void route(const QByteArray& path, Route route) { m_routes.insert(path, std::move(route)); }
    int hits(const QByteArray& path) const { return m_hits.value(path); }

    void serve(QTcpSocket* socket) {
        QByteArray& buffer = m_buffers[socket];
        buffer += socket->readAll();
        if (!buffer.contains("\r\n\r\n"))
            return;
        const QByteArray path = buffer.left(buffer.indexOf("\r\n")).split(' ').value(1);
        buffer.clear();
        ++m_hits[path];
        const Route r = m_routes.value(path, {"", Mode::normal, 404});
        if (r.mode == Mode::stall)
            return;
        socket->write("HTTP/1.1 " + QByteArray::number(r.status) + " Status\r\nContent-Length: " +
                      QByteArray::number(r.body.size()) + "\r\nConnection: close\r\n\r\n" +
                      (r.mode == Mode::truncate ? r.body.left(r.body.size() / 2) : r.body));
        socket->disconnectFromHost();
    }

    QTcpServer m_server;
    QHash<QTcpSocket*, QByteArray> m_buffers;
    QHash<QByteArray, Route> m_routes;
    QHash<QByteArray, int> m_hits;
};

namespace updaterrig {

using namespace velline;

constexpr double kStart = 1'800'000'000.0;
constexpr double kDay = 24 * 3600.0;

struct Rig {
    ManualClock clock{kStart};
    QTemporaryDir dir;
    QSettings settings{dir.filePath("Velline.ini"), QSettings::IniFormat};
    TestHttpServer server;
    // One release key for the whole run: making one is slow under the sanitizers.
    static inline const ed25519::KeyPair keys = ed25519::generate();
    int restarts = 0;
    QStringList installCommand{"/bin/sh", "-c", "cp \"$1\" \"$2\"", "sh", "%f", installedCopy()};
    std::unique_ptr<Updater> updater;

    QString downloads() const { return dir.filePath("downloads"); }
    QString installedCopy() const { return dir.filePath("installed.deb"); }
    QStringList leftInDownloads() const {
        return QDir(downloads()).entryList(QDir::Files | QDir::Hidden);
    }

    // An updater on this rig's feed, or on `feed` when given.
    Updater& make(bool showsDialogs = false, const std::optional<QUrl>& feed = std::nullopt) {
        const Updater::InstallCommand install{installCommand, true};
        const auto restart = [this] { ++restarts; };
        updater.reset();
        updater = std::make_unique<Updater>(Updater::Options{
            feed.value_or(server.url("/appcast.xml")), keys.publicKeyBase64, "1.2.0", &clock,
            &settings, downloads(), install, restart, showsDialogs});
        return *updater;
    }

    // Checks by hand and waits for the offer of a newer release.
    bool offered() {
        updater->checkForUpdates();
        return QTest::qWaitFor(
            [this] { return updater->phase() == Updater::Phase::updateAvailable; });
    }

    void serveFeed(const QByteArray& items) {
        server.route("/appcast.xml", {feedfixture::feed(items)});
    }
    // Serves `bytes` as the package of `version`, announced with `length` and `signature`.
    void servePackage(const QString& version, const QByteArray& bytes, qint64 length,
                      const QString& signature, TestHttpServer::Mode mode = {},
                      const QString& extra = {}) {
        const QString path = "/velline_" + version + "_amd64.deb";
        server.route(path.toLatin1(), {bytes, mode});
        serveFeed(
            feedfixture::item(version, server.url(path).toString(), length, signature, extra));
    }
    void serveSigned(const QString& version, const QByteArray& bytes, const QString& extra = {}) {
        servePackage(version, bytes, bytes.size(), ed25519::sign(keys.privateKeyPem, bytes), {},
                     extra);
    }
};

} // namespace updaterrig
