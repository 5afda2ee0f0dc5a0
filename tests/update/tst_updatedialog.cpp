// The updater's window on a real X server: what it says and which buttons it offers in each
// phase, and that the buttons answer the updater. Pictures of each phase are written to the
// test's working folder (or VELLINE_SHOT_DIR) for a person to look at.

#include "update/updatedialog.h"
#include "updaterrig.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTextBrowser>

using namespace velline;
using Phase = Updater::Phase;

class TestUpdateDialog : public QObject {
    Q_OBJECT

    std::unique_ptr<updaterrig::Rig> m_rig;

    UpdateDialog* dialog() const { return m_rig->updater->dialog(); }
    QString text(const char* name) const {
        return dialog()->findChild<QLabel*>(QLatin1String(name))->text();
    }
    QStringList visibleButtons() const {
        QStringList titles;
        for (QPushButton* b : dialog()->findChildren<QPushButton*>())
            if (b->isVisible())
                titles.append(b->text());
        return titles;
    }
    QPushButton* button(const QString& title) const {
        const auto all = dialog()->findChildren<QPushButton*>();
        const auto it =
            std::find_if(all.begin(), all.end(), [&](auto* b) { return b->text() == title; });
        return it == all.end() ? nullptr : *it;
    }
    void shoot(const QString& name) {
        const QString dir = qEnvironmentVariable("VELLINE_SHOT_DIR", QDir::currentPath());
        QVERIFY(dialog()->grab().save(dir + "/updatedialog-" + name + ".png"));
    }

private Q_SLOTS:
    void initTestCase() {
        m_rig = std::make_unique<updaterrig::Rig>();
        m_rig->make(true);
        QVERIFY(!dialog()); // built on first use only
    }

    void offersANewVersion() {
        m_rig->serveSigned("1.3.0", QByteArray(64 * 1024, 'v'),
                           "<description><![CDATA[<h3>What's new</h3><ul><li>A calmer notch after "
                           "hours</li><li>Alerts fire once per crossing</li></ul>"
                           "<p><img src=\"file:///etc/hostname\"></p>]]></description>");
        m_rig->updater->checkForUpdates();
        QTRY_COMPARE(m_rig->updater->phase(), Phase::updateAvailable);
        QTRY_VERIFY(dialog() && dialog()->isVisible());
        QCOMPARE(text("headline"), QStringLiteral("A new version of Velline is available!"));
        QCOMPARE(text("informativeText"),
                 QStringLiteral("Velline 1.3.0 is now available — you have 1.2.0. Would you "
                                "like to download it now?"));
        const auto* notes = dialog()->findChild<QTextBrowser*>("releaseNotes");
        QVERIFY(notes->isVisible() && notes->toPlainText().contains("A calmer notch after hours"));
        QCOMPARE(visibleButtons(),
                 (QStringList{UpdateDialog::kSkipTitle, UpdateDialog::kRemindTitle,
                              UpdateDialog::kInstallTitle}));
        QVERIFY(button(UpdateDialog::kInstallTitle)->isDefault());
        shoot("offer");

        QTest::mouseClick(button(UpdateDialog::kSkipTitle), Qt::LeftButton);
        QCOMPARE(m_rig->updater->phase(), Phase::idle);
        QVERIFY(!dialog()->isVisible());
        QCOMPARE(m_rig->updater->skippedVersion(), QStringLiteral("1.3.0"));
    }

    void installsAndOffersARestart() {
        m_rig->updater->checkForUpdates();
        QTRY_COMPARE(m_rig->updater->phase(), Phase::updateAvailable);
        QTest::mouseClick(button(UpdateDialog::kInstallTitle), Qt::LeftButton);
        QCOMPARE(visibleButtons(), QStringList{"Cancel"});
        QVERIFY(!button("Cancel")->isDefault()); // Return does not stop the download
        QTRY_COMPARE_WITH_TIMEOUT(m_rig->updater->phase(), Phase::installed, 10000);
        QVERIFY(dialog()->isVisible());
        QCOMPARE(text("headline"), QStringLiteral("Velline 1.3.0 is installed"));
        QCOMPARE(visibleButtons(), (QStringList{"Later", "Restart Velline"}));
        QVERIFY(button("Restart Velline")->isDefault());
        shoot("installed");
        QTest::mouseClick(button("Restart Velline"), Qt::LeftButton);
        QCOMPARE(m_rig->restarts, 1);
        QVERIFY(!dialog()->isVisible());
    }

    void saysWhenUpToDateOrFailing() {
        m_rig->server.route("/appcast.xml", {feedfixture::feed({})});
        m_rig->updater->checkForUpdates();
        QTRY_COMPARE(m_rig->updater->phase(), Phase::upToDate);
        QVERIFY(dialog()->isVisible());
        QCOMPARE(text("headline"), QStringLiteral("You're up to date!"));
        QCOMPARE(visibleButtons(), QStringList{"OK"});
        QVERIFY(button("OK")->isDefault()); // also when the window was hidden before
        shoot("uptodate");
        QTest::mouseClick(button("OK"), Qt::LeftButton);
        QVERIFY(!dialog()->isVisible());

        m_rig->server.route("/appcast.xml", {"oops", TestHttpServer::Mode::normal, 500});
        m_rig->updater->checkForUpdates();
        QTRY_COMPARE(m_rig->updater->phase(), Phase::checkFailed);
        QCOMPARE(text("headline"), QStringLiteral("Velline could not check for updates"));
        shoot("failed");
        // Closing the window is the same as OK.
        dialog()->close();
        QCOMPARE(m_rig->updater->phase(), Phase::idle);
    }

    // A build without a release feed explains itself in a window with one button, which Return
    // and Escape close like every other dialog of the app.
    void withoutAFeedReturnAndEscapeClose_data() {
        QTest::addColumn<int>("key");
        QTest::newRow("return") << int(Qt::Key_Return);
        QTest::newRow("enter") << int(Qt::Key_Enter);
        QTest::newRow("escape") << int(Qt::Key_Escape);
    }
    void withoutAFeedReturnAndEscapeClose() {
        QFETCH(int, key);
        Updater& updater = m_rig->make(true, QUrl());
        updater.checkForUpdates();
        QVERIFY(dialog() && QTest::qWaitForWindowActive(dialog()));
        QCOMPARE(text("headline"), QStringLiteral("Velline is updated by your package manager"));
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : dialog(),
                        Qt::Key(key));
        QCOMPARE(updater.phase(), Phase::idle);
        QVERIFY(!dialog()->isVisible());
    }
};

QTEST_MAIN(TestUpdateDialog)
#include "tst_updatedialog.moc"
