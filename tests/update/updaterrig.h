#pragma once

// The updater against a release feed and packages served on 127.0.0.1, in virtual time, with
// its settings and downloads in a private folder.

#include "clock/manualclock.h"
#include "feedfixture.h"
#include "testhttpserver.h"
#include "update/signature.h"
#include "update/updater.h"

#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace updaterrig {

using namespace velline;

constexpr double kStart = 1'800'000'000.0;
constexpr double kDay = 24 * 3600.0;

struct Rig {
    ManualClock clock{kStart};
    QTemporaryDir dir;
    QSettings settings{dir.filePath("Velline.ini"), QSettings::IniFormat};
    TestHttpServer server;
    ed25519::KeyPair keys;
    int restarts = 0;
    QStringList installCommand;
    std::unique_ptr<Updater> updater;

    explicit Rig(const ed25519::KeyPair& pair) : keys(pair) {
        server.listen();
        installCommand = {"/bin/sh", "-c", "cp \"$1\" \"$2\"", "sh", "%f", installedCopy()};
    }
    QString downloads() const { return dir.filePath("downloads"); }
    QString installedCopy() const { return dir.filePath("installed.deb"); }
    QStringList leftInDownloads() const {
        return QDir(downloads()).entryList(QDir::Files | QDir::Hidden);
    }

    Updater& make(bool showsDialogs = false) {
        Updater::Options options;
        options.feedUrl = server.url("/appcast.xml");
        options.publicKey = keys.publicKeyBase64;
        options.currentVersion = "1.2.0";
        options.clock = &clock;
        options.settings = &settings;
        options.downloadDirectory = downloads();
        options.installCommand = {installCommand, true};
        options.restart = [this] { ++restarts; };
        options.showsDialogs = showsDialogs;
        updater.reset();
        updater = std::make_unique<Updater>(options);
        return *updater;
    }

    // Checks by hand and waits for the offer of a newer release.
    bool offered() {
        updater->checkForUpdates();
        return QTest::qWaitFor(
            [this] { return updater->phase() == Updater::Phase::updateAvailable; });
    }

    void serveFeed(const QByteArray& items) {
        server.route("/appcast.xml", {feedfixture::feed(items), TestHttpServer::Mode::normal, 200,
                                      "application/rss+xml"});
    }
    // Serves `bytes` as the package of `version`, announced with `length` and `signature`.
    void servePackage(const QString& version, const QByteArray& bytes, qint64 length,
                      const QString& signature,
                      TestHttpServer::Mode mode = TestHttpServer::Mode::normal) {
        server.route("/velline_" + version.toLatin1() + "_amd64.deb", {bytes, mode});
        serveFeed(feedfixture::item(version,
                                    server.url("/velline_" + version + "_amd64.deb").toString(),
                                    length, signature));
    }
};

} // namespace updaterrig
