#include "updaterrig.h"

#include <QSignalSpy>

using namespace velline;
using namespace updaterrig;
using namespace Qt::StringLiterals;
using Phase = Updater::Phase;
using Mode = TestHttpServer::Mode;

class TestUpdater : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // A build without a feed (or with a plain-http one elsewhere) is updated by its package
    // manager: no automatic checks, and a check says so.
    void buildWithoutFeed() {
        Rig rig;
        rig.settings.setValue(Updater::kAutomaticKey, true);
        for (const QUrl& feed : {QUrl(), QUrl("http://velline.org/appcast.xml")}) {
            Updater& updater = rig.make(false, feed);
            QVERIFY(!updater.canCheckForUpdates() && !updater.automaticallyChecksForUpdates());
            QCOMPARE(updater.nextAutomaticCheck(), 0.0);
            updater.checkForUpdates();
            QCOMPARE(updater.phase(), Phase::noFeed);
        }
    }

    // A failed automatic check says nothing and waits a day like a good one.
    void automaticChecksRunAtMostOnceADay() {
        Rig rig;
        rig.server.route("/appcast.xml", {"oops", Mode::normal, 500});
        Updater& updater = rig.make();
        QSignalSpy presented(&updater, &Updater::presentRequested);
        QVERIFY(updater.automaticallyChecksForUpdates()); // on by default
        QCOMPARE(updater.nextAutomaticCheck(), kStart + Updater::kFirstCheckDelay);

        // A check starts synchronously, so idle means none began.
        rig.clock.advance(Updater::kFirstCheckDelay - 0.001);
        QCOMPARE(updater.phase(), Phase::idle);
        rig.clock.advance(0.001);
        QTRY_COMPARE(updater.lastCheckTime(), kStart + Updater::kFirstCheckDelay);
        QCOMPARE(rig.server.hits("/appcast.xml"), 1);
        QVERIFY(updater.phase() == Phase::idle && presented.isEmpty());

        rig.serveFeed(feedfixture::item("1.2.0", "https://velline.org/v.deb", 5,
                                        feedfixture::dummySignature()));
        const double next = kStart + Updater::kFirstCheckDelay + kDay;
        QCOMPARE(updater.nextAutomaticCheck(), next);
        rig.clock.advanceTo(next - 0.001);
        QCOMPARE(updater.phase(), Phase::idle);
        rig.clock.advanceTo(next);
        QTRY_COMPARE(updater.lastCheckTime(), next);
        QCOMPARE(presented.size(), 0); // nothing newer: silent

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

    // A last check stored in the future (the clock was set back) does not stop checks for good;
    // one that is no time counts as none.
    void clockSetBack() {
        Rig rig;
        rig.settings.setValue(Updater::kLastCheckKey, kStart + 30 * kDay);
        QCOMPARE(rig.make().nextAutomaticCheck(), kStart + Updater::kFirstCheckDelay + kDay);
        rig.settings.setValue(Updater::kLastCheckKey, u"yesterday"_s);
        QCOMPARE(rig.make().nextAutomaticCheck(), kStart + Updater::kFirstCheckDelay);
    }

    void skipAndRemindLater() {
        Rig rig;
        const QString sig = feedfixture::dummySignature();
        rig.serveFeed(feedfixture::item("1.3.0", "https://velline.org/a.deb", 5, sig));
        Updater& updater = rig.make();
        rig.clock.advance(Updater::kFirstCheckDelay);
        QTRY_COMPARE(updater.phase(), Phase::updateAvailable); // its texts: the window's test

        updater.skipThisVersion();
        QVERIFY(updater.phase() == Phase::idle && updater.skippedVersion() == "1.3.0"_L1);
        rig.clock.advance(kDay);
        QTRY_COMPARE(updater.lastCheckTime(), rig.clock.now());
        QCOMPARE(updater.phase(), Phase::idle); // a skipped version is not offered again

        // The user asking still sees it.
        updater.checkForUpdates();
        QTRY_COMPARE(updater.phase(), Phase::updateAvailable);
        updater.remindMeLater();
        QVERIFY(updater.phase() == Phase::idle && updater.skippedVersion() == "1.3.0"_L1);

        // A newer release than the skipped one is offered; "later" offers it again next day.
        rig.serveFeed(feedfixture::item("1.3.0", "https://velline.org/a.deb", 5, sig) +
                      feedfixture::item("1.4.0", "https://velline.org/b.deb", 5, sig));
        rig.clock.advance(kDay);
        QTRY_COMPARE(updater.phase(), Phase::updateAvailable);
        QCOMPARE(updater.offeredItem().version, u"1.4.0"_s);
        updater.remindMeLater();
        rig.clock.advance(kDay);
        QTRY_COMPARE(updater.phase(), Phase::updateAvailable);
        QCOMPARE(updater.offeredItem().version, u"1.4.0"_s);
    }

    // A check the user asked for always ends in a window saying how it went; a feed that does
    // not answer gives up after its timeout.
    void userChecksReportEveryOutcome_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("text");
        const QByteArray older = feedfixture::feed(feedfixture::item(
            "1.1.0", "https://velline.org/a.deb", 5, feedfixture::dummySignature()));
        const auto row = [](const char* name, const QByteArray& body, int status,
                            const char* text) {
            QTest::newRow(name) << body << status << QString::fromUtf8(text);
        };
        row("up to date", older, 200, "Velline 1.2.0 is currently the newest version available.");
        row("HTTP error", "Not found", 404, "The release feed answered with HTTP status 404.");
        row("not XML", "{}", 200, "The release feed is not well-formed XML");
        row("over a megabyte", QByteArray(2 << 20, ' '), 200,
            "The release feed is larger than 1024 KiB.");
        row("no usable item",
            feedfixture::feed("<item><sparkle:version>2.0</sparkle:version></item>"), 200,
            "The release feed lists no usable release (item 1: no enclosure).");
        row("stalled", {}, 0, "The release feed did not answer within 30 seconds.");
    }
    void userChecksReportEveryOutcome() {
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        QFETCH(QString, text);
        Rig rig;
        rig.server.route("/appcast.xml", {body, status ? Mode::normal : Mode::stall, status});
        Updater& updater = rig.make();
        QSignalSpy presented(&updater, &Updater::presentRequested);
        updater.checkForUpdates();
        QCOMPARE(updater.phase(), Phase::checking);
        if (!status) {
            QTRY_COMPARE(rig.server.hits("/appcast.xml"), 1);
            rig.clock.advance(Updater::kFeedTimeout - 0.001);
            QCOMPARE(updater.phase(), Phase::checking);
            rig.clock.advance(0.001);
        }
        QTRY_VERIFY(updater.phase() != Phase::checking);
        QCOMPARE(updater.phase(), body.contains("1.1.0") ? Phase::upToDate : Phase::checkFailed);
        QVERIFY2(updater.informativeText().startsWith(text), qPrintable(updater.informativeText()));
        QCOMPARE(presented.size(), 2); // checking, then the result
    }

    // A download is installed only when its length and signature match the feed; what does not
    // match is refused, deleted, and never reaches the installer. The installer's own failures
    // are told apart.
    void downloadOutcomes_data() {
        QTest::addColumn<int>("announcedLengthDelta");
        QTest::addColumn<bool>("signOtherBytes");
        QTest::addColumn<bool>("truncate");
        QTest::addColumn<int>("exitCode");   // of the installer, -1: copies the package
        QTest::addColumn<QString>("reason"); // empty: installed
        QTest::newRow("installed") << 0 << false << false << -1 << "";
        QTest::newRow("wrong signature") << 0 << true << false << -1 << "not signed by Velline";
        QTest::newRow("shorter than announced") << 10 << false << false << -1 << "but the release";
        QTest::newRow("longer than announced") << -10 << false << false << -1 << "larger than";
        QTest::newRow("cut off") << 0 << false << true << -1 << "broke off";
        QTest::newRow("apt fails") << 0 << false << false << 100 << "(exit status 100)";
        QTest::newRow("password prompt dismissed") << 0 << false << false << 126 << "cancelled";
    }
    void downloadOutcomes() {
        QFETCH(int, announcedLengthDelta);
        QFETCH(bool, signOtherBytes);
        QFETCH(bool, truncate);
        QFETCH(int, exitCode);
        QFETCH(QString, reason);
        Rig rig;
        if (exitCode >= 0)
            rig.installCommand = {"/bin/sh", "-c", QStringLiteral("exit %1").arg(exitCode)};
        const QByteArray package = QByteArray(200 * 1024, 'v');
        const QString signature =
            ed25519::sign(rig.keys.privateKeyPem, signOtherBytes ? package.left(10) : package);
        rig.servePackage("1.3.0", package, package.size() + announcedLengthDelta, signature,
                         truncate ? Mode::truncate : Mode::normal);
        Updater& updater = rig.make();
        QSignalSpy progress(&updater, &Updater::progressChanged);
        QVERIFY(rig.offered());
        updater.installUpdate();
        QCOMPARE(updater.phase(), Phase::downloading);
        QTRY_VERIFY_WITH_TIMEOUT(
            updater.phase() == Phase::installed || updater.phase() == Phase::failed, 10000);
        QVERIFY(exitCode >= 0 || rig.leftInDownloads().isEmpty());
        updater.restartNow(); // offered only once installed
        if (reason.isEmpty()) {
            QCOMPARE(rig.restarts, 1);
            QFile installed(rig.installedCopy());
            QVERIFY(installed.open(QIODevice::ReadOnly));
            QCOMPARE(installed.readAll(), package);
            QCOMPARE(progress.last(),
                     (QVariantList{qint64(package.size()), qint64(package.size())}));
            QCOMPARE(updater.phase(), Phase::idle);
            return;
        }
        QCOMPARE(updater.phase(), Phase::failed);
        QVERIFY2(updater.failureReason().contains(reason), qPrintable(updater.failureReason()));
        QVERIFY(!QFile::exists(rig.installedCopy()));
        QCOMPARE(rig.restarts, 0);
    }

    void downloadCanBeCancelledAndGivesUpWhenStalled() {
        Rig rig;
        rig.servePackage("1.3.0", "x", 1, feedfixture::dummySignature(), Mode::stall);
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
};

QTEST_GUILESS_MAIN(TestUpdater)
#include "tst_updater.moc"
