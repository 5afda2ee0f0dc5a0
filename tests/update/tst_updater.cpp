// The updater against a release feed on 127.0.0.1, in virtual time: the once-a-day rule, skip and
// remind-later, failures, and the download → verify → install road with its refusals.

#include "updaterrig.h"

#include <QRandomGenerator>
#include <QSignalSpy>

using namespace velline;
using namespace updaterrig;
using Phase = Updater::Phase;

namespace {

QByteArray randomBytes(qsizetype size) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& c : bytes)
        c = char(QRandomGenerator::global()->generate());
    return bytes;
}

} // namespace

class TestUpdater : public QObject {
    Q_OBJECT

    ed25519::KeyPair m_keys;

private Q_SLOTS:
    void initTestCase() {
        m_keys = ed25519::generate();
        QVERIFY(!m_keys.publicKeyBase64.isEmpty());
    }

    // A build without a feed is updated by its package manager: no automatic checks, and a
    // check says so.
    void buildWithoutFeed() {
        Rig rig(m_keys);
        rig.settings.setValue(Updater::kAutomaticKey, true);
        Updater::Options options;
        options.clock = &rig.clock;
        options.settings = &rig.settings;
        options.showsDialogs = false;
        Updater updater(options);
        QVERIFY(!updater.canCheckForUpdates());
        QVERIFY(!updater.automaticallyChecksForUpdates());
        QCOMPARE(updater.nextAutomaticCheck(), 0.0);
        updater.checkForUpdates();
        QCOMPARE(updater.phase(), Phase::noFeed);
        QVERIFY(updater.informativeText().contains("updated by its package manager"));

        // A plain-http feed elsewhere is refused the same way.
        options.feedUrl = QUrl("http://velline.org/appcast.xml");
        Updater plain(options);
        QVERIFY(!plain.canCheckForUpdates());
    }

    void automaticChecksRunAtMostOnceADay() {
        Rig rig(m_keys);
        rig.serveFeed(feedfixture::item("1.2.0", "https://velline.org/v.deb", 5,
                                        feedfixture::dummySignature()));
        Updater& updater = rig.make();
        QVERIFY(updater.automaticallyChecksForUpdates()); // on by default
        QCOMPARE(updater.nextAutomaticCheck(), kStart + Updater::kFirstCheckDelay);

        // A check starts synchronously (the phase turns to checking), so idle means none began.
        rig.clock.advance(Updater::kFirstCheckDelay - 0.001);
        QCOMPARE(updater.phase(), Phase::idle);
        rig.clock.advance(0.001);
        QTRY_COMPARE(updater.lastCheckTime(), kStart + Updater::kFirstCheckDelay);
        QCOMPARE(rig.server.hits("/appcast.xml"), 1);
        QCOMPARE(updater.phase(), Phase::idle); // nothing newer: silent

        const double next = kStart + Updater::kFirstCheckDelay + kDay;
        QCOMPARE(updater.nextAutomaticCheck(), next);
        rig.clock.advanceTo(next - 0.001);
        QCOMPARE(updater.phase(), Phase::idle);
        rig.clock.advanceTo(next);
        QTRY_COMPARE(rig.server.hits("/appcast.xml"), 2);
        QTRY_COMPARE(updater.lastCheckTime(), next);

        // A restart does not check again before the day is over.
        rig.clock.setNow(next + 600);
        Updater& again = rig.make();
        QCOMPARE(again.nextAutomaticCheck(), next + kDay);

        // Switched off: nothing planned, nothing fetched; the choice is stored.
        again.setAutomaticallyChecksForUpdates(false);
        QCOMPARE(again.nextAutomaticCheck(), 0.0);
        rig.clock.advance(3 * kDay);
        QCOMPARE(again.phase(), Phase::idle);
        QVERIFY(!rig.make().automaticallyChecksForUpdates());
    }

    // A last check stored in the future (the clock was set back) does not stop checks for good.
    void clockSetBack() {
        Rig rig(m_keys);
        rig.settings.setValue(Updater::kLastCheckKey, kStart + 30 * kDay);
        QCOMPARE(rig.make().nextAutomaticCheck(), kStart + Updater::kFirstCheckDelay + kDay);
        rig.settings.setValue(Updater::kLastCheckKey, QStringLiteral("yesterday"));
        QCOMPARE(rig.make().nextAutomaticCheck(), kStart + Updater::kFirstCheckDelay);
    }

    void skipAndRemindLater() {
        Rig rig(m_keys);
        const QString sig = feedfixture::dummySignature();
        rig.serveFeed(feedfixture::item("1.3.0", "https://velline.org/a.deb", 5, sig));
        Updater& updater = rig.make();
        rig.clock.advance(Updater::kFirstCheckDelay);
        QTRY_COMPARE(updater.phase(), Phase::updateAvailable); // its texts: the window's test

        updater.skipThisVersion();
        QCOMPARE(updater.phase(), Phase::idle);
        QCOMPARE(updater.skippedVersion(), QStringLiteral("1.3.0"));
        rig.clock.advance(kDay);
        QTRY_COMPARE(rig.server.hits("/appcast.xml"), 2);
        QTRY_COMPARE(updater.lastCheckTime(), rig.clock.now());
        QCOMPARE(updater.phase(), Phase::idle); // a skipped version is not offered again

        // The user asking still sees it.
        updater.checkForUpdates();
        QTRY_COMPARE(updater.phase(), Phase::updateAvailable);
        updater.remindMeLater();
        QCOMPARE(updater.phase(), Phase::idle);
        QCOMPARE(updater.skippedVersion(), QStringLiteral("1.3.0"));

        // A newer release than the skipped one is offered; "later" offers it again next day.
        rig.serveFeed(feedfixture::item("1.3.0", "https://velline.org/a.deb", 5, sig) +
                      feedfixture::item("1.4.0", "https://velline.org/b.deb", 5, sig));
        rig.clock.advance(kDay);
        QTRY_COMPARE(updater.phase(), Phase::updateAvailable);
        QCOMPARE(updater.offeredItem().version, QStringLiteral("1.4.0"));
        updater.remindMeLater();
        rig.clock.advance(kDay);
        QTRY_COMPARE(updater.phase(), Phase::updateAvailable);
        QCOMPARE(updater.offeredItem().version, QStringLiteral("1.4.0"));
    }

    // A check the user asked for always ends in a window saying how it went.
    void userChecksReportEveryOutcome_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("text");
        const QByteArray older = feedfixture::feed(feedfixture::item(
            "1.1.0", "https://velline.org/a.deb", 5, feedfixture::dummySignature()));
        QTest::newRow("up to date")
            << older << 200 << "Velline 1.2.0 is currently the newest version available.";
        QTest::newRow("HTTP error")
            << QByteArray("Not found") << 404 << "The release feed answered with HTTP status 404.";
        QTest::newRow("not XML") << QByteArray("{\"json\": true}") << 200
                                 << "The release feed is not well-formed XML";
        QTest::newRow("over a megabyte") << QByteArray(2 * 1024 * 1024, ' ') << 200
                                         << "The release feed is larger than 1024 KiB.";
        QTest::newRow("no usable item")
            << feedfixture::feed("<item><sparkle:version>2.0</sparkle:version></item>") << 200
            << "The release feed lists no usable release (item 1: no enclosure).";
    }
    void userChecksReportEveryOutcome() {
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        QFETCH(QString, text);
        Rig rig(m_keys);
        rig.server.route("/appcast.xml", {body, TestHttpServer::Mode::normal, status});
        Updater& updater = rig.make();
        QSignalSpy presented(&updater, &Updater::presentRequested);
        updater.checkForUpdates();
        QCOMPARE(updater.phase(), Phase::checking);
        QTRY_VERIFY(updater.phase() != Phase::checking);
        QCOMPARE(updater.phase(),
                 status == 200 && body.contains("1.1.0") ? Phase::upToDate : Phase::checkFailed);
        QVERIFY2(updater.informativeText().startsWith(text), qPrintable(updater.informativeText()));
        QCOMPARE(presented.size(), 2); // checking, then the result
    }

    // A failed automatic check says nothing; it waits a day like a good one.
    void failedAutomaticCheckIsSilent() {
        Rig rig(m_keys);
        rig.server.route("/appcast.xml", {"oops", TestHttpServer::Mode::normal, 500});
        Updater& updater = rig.make();
        QSignalSpy presented(&updater, &Updater::presentRequested);
        rig.clock.advance(Updater::kFirstCheckDelay);
        QTRY_COMPARE(updater.lastCheckTime(), rig.clock.now());
        QCOMPARE(updater.phase(), Phase::idle);
        QCOMPARE(presented.size(), 0);
        QCOMPARE(updater.nextAutomaticCheck(), rig.clock.now() + kDay);
    }

    void stalledFeedGivesUp() {
        Rig rig(m_keys);
        rig.server.route("/appcast.xml", {{}, TestHttpServer::Mode::stall});
        Updater& updater = rig.make();
        updater.checkForUpdates();
        QTRY_COMPARE(rig.server.hits("/appcast.xml"), 1);
        rig.clock.advance(Updater::kFeedTimeout - 0.001);
        QCOMPARE(updater.phase(), Phase::checking);
        rig.clock.advance(0.001);
        QTRY_COMPARE(updater.phase(), Phase::checkFailed);
        QCOMPARE(updater.informativeText(),
                 QStringLiteral("The release feed did not answer within 30 seconds."));
    }

    void goodUpdateIsVerifiedAndInstalled() {
        Rig rig(m_keys);
        const QByteArray package = randomBytes(300 * 1024);
        rig.servePackage("1.3.0", package, package.size(),
                         ed25519::sign(m_keys.privateKeyPem, package));
        Updater& updater = rig.make();
        QSignalSpy progress(&updater, &Updater::progressChanged);
        QVERIFY(rig.offered());
        updater.installUpdate();
        QCOMPARE(updater.phase(), Phase::downloading);
        QTRY_COMPARE_WITH_TIMEOUT(updater.phase(), Phase::installed, 10000);

        QFile installed(rig.installedCopy());
        QVERIFY(installed.open(QIODevice::ReadOnly));
        QCOMPARE(installed.readAll(), package);
        QVERIFY(rig.leftInDownloads().isEmpty());
        QVERIFY(progress.size() >= 2);
        QCOMPARE(progress.last().at(0).toLongLong(), package.size());
        QCOMPARE(progress.last().at(1).toLongLong(), package.size());

        updater.restartNow();
        QCOMPARE(rig.restarts, 1);
        QCOMPARE(updater.phase(), Phase::idle);
    }

    // What does not match the feed is refused, deleted, and never reaches the installer.
    void refusedDownloadsLeaveNoFile_data() {
        QTest::addColumn<int>("announcedLengthDelta");
        QTest::addColumn<bool>("signOtherBytes");
        QTest::addColumn<bool>("truncate");
        QTest::addColumn<QString>("reason");
        QTest::newRow("wrong signature") << 0 << true << false << "not signed by Velline";
        QTest::newRow("shorter than announced") << 10 << false << false << "but the release feed";
        QTest::newRow("longer than announced") << -10 << false << false << "larger than";
        QTest::newRow("cut off") << 0 << false << true << "broke off";
    }
    void refusedDownloadsLeaveNoFile() {
        QFETCH(int, announcedLengthDelta);
        QFETCH(bool, signOtherBytes);
        QFETCH(bool, truncate);
        QFETCH(QString, reason);
        Rig rig(m_keys);
        const QByteArray package = randomBytes(200 * 1024);
        const QString signature =
            ed25519::sign(m_keys.privateKeyPem, signOtherBytes ? package.left(10) : package);
        rig.servePackage("1.3.0", package, package.size() + announcedLengthDelta, signature,
                         truncate ? TestHttpServer::Mode::truncate : TestHttpServer::Mode::normal);
        Updater& updater = rig.make();
        QVERIFY(rig.offered());
        updater.installUpdate();
        QTRY_COMPARE_WITH_TIMEOUT(updater.phase(), Phase::failed, 10000);
        QVERIFY2(updater.failureReason().contains(reason), qPrintable(updater.failureReason()));
        QVERIFY(rig.leftInDownloads().isEmpty());
        QVERIFY(!QFile::exists(rig.installedCopy()));
    }

    void downloadCanBeCancelledAndGivesUpWhenStalled() {
        Rig rig(m_keys);
        rig.servePackage("1.3.0", "x", 1, feedfixture::dummySignature(),
                         TestHttpServer::Mode::stall);
        Updater& updater = rig.make();
        QVERIFY(rig.offered());
        updater.installUpdate();
        QTRY_COMPARE(rig.server.hits("/velline_1.3.0_amd64.deb"), 1);
        QCOMPARE(rig.leftInDownloads().size(), 1); // the part file
        updater.cancelDownload();
        QCOMPARE(updater.phase(), Phase::idle);
        QVERIFY(rig.leftInDownloads().isEmpty());

        QVERIFY(rig.offered());
        updater.installUpdate();
        QTRY_COMPARE(rig.server.hits("/velline_1.3.0_amd64.deb"), 2);
        rig.clock.advance(Updater::kDownloadStallTimeout - 0.001);
        QCOMPARE(updater.phase(), Phase::downloading);
        rig.clock.advance(0.001);
        QTRY_COMPARE(updater.phase(), Phase::failed);
        QVERIFY2(updater.failureReason().contains("stalled"), qPrintable(updater.failureReason()));
        QVERIFY(rig.leftInDownloads().isEmpty());
    }

    void installerFailures_data() {
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("reason");
        QTest::newRow("apt fails") << 100 << "could not install the update (exit status 100)";
        QTest::newRow("password prompt dismissed") << 126 << "The installation was cancelled";
    }
    void installerFailures() {
        QFETCH(int, exitCode);
        QFETCH(QString, reason);
        Rig rig(m_keys);
        rig.installCommand = {"/bin/sh", "-c", QStringLiteral("exit %1").arg(exitCode)};
        const QByteArray package = randomBytes(1000);
        rig.servePackage("1.3.0", package, package.size(),
                         ed25519::sign(m_keys.privateKeyPem, package));
        Updater& updater = rig.make();
        QVERIFY(rig.offered());
        updater.installUpdate();
        QTRY_COMPARE_WITH_TIMEOUT(updater.phase(), Phase::failed, 10000);
        QVERIFY2(updater.failureReason().contains(reason), qPrintable(updater.failureReason()));
        updater.restartNow(); // not offered after a failure
        QCOMPARE(rig.restarts, 0);
    }
};

QTEST_GUILESS_MAIN(TestUpdater)
#include "tst_updater.moc"
