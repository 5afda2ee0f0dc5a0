// The updater's window on a real X server: which buttons it offers in each phase, which one
// Return presses, and that the buttons answer the updater. (What it says is the updater's.)

#include "update/updatedialog.h"
#include "updaterrig.h"

#include <QApplication>
#include <QPushButton>
#include <QTextBrowser>

using namespace velline;
using namespace Qt::StringLiterals;
using Phase = Updater::Phase;

class TestUpdateDialog : public QObject {
    Q_OBJECT

    std::unique_ptr<updaterrig::Rig> m_rig;

    UpdateDialog* dialog() const { return m_rig->updater->dialog(); }
    // The visible buttons, "*" before the one Return presses.
    QString buttons() const {
        QStringList titles;
        for (QPushButton* b : dialog()->findChildren<QPushButton*>())
            if (b->isVisible())
                titles << (b->isDefault() ? u"*"_s : QString()) + b->text();
        return titles.join(u'|');
    }
    void click(const QString& title) {
        for (QPushButton* b : dialog()->findChildren<QPushButton*>())
            if (b->text() == title)
                QTest::mouseClick(b, Qt::LeftButton);
    }

private Q_SLOTS:
    void initTestCase() {
        m_rig = std::make_unique<updaterrig::Rig>();
        m_rig->make(true);
        QVERIFY(!dialog()); // built on first use only
    }

    void offersSkipsAndInstallsANewVersion() {
        m_rig->serveSigned("1.3.0", QByteArray(64 * 1024, 'v'),
                           "<description><![CDATA[<ul><li>A calmer notch after hours</li></ul>"
                           "<p><img src=\"file:///etc/hostname\"></p>]]></description>");
        m_rig->updater->checkForUpdates();
        QTRY_COMPARE(m_rig->updater->phase(), Phase::updateAvailable);
        QTRY_VERIFY(dialog() && dialog()->isVisible());
        const auto* notes = dialog()->findChild<QTextBrowser*>("releaseNotes");
        QVERIFY(notes->isVisible() && notes->toPlainText().contains("A calmer notch after hours"));
        QCOMPARE(buttons(), u"Skip This Version|Remind Me Later|*Install Update"_s);
        click(UpdateDialog::kSkipTitle);
        QVERIFY(m_rig->updater->phase() == Phase::idle && !dialog()->isVisible());
        QCOMPARE(m_rig->updater->skippedVersion(), u"1.3.0"_s);

        // Asked by hand, it offers the skipped version again.
        m_rig->updater->checkForUpdates();
        QTRY_COMPARE(m_rig->updater->phase(), Phase::updateAvailable);
        click(UpdateDialog::kInstallTitle);
        QCOMPARE(buttons(), u"Cancel"_s); // Return does not stop the download
        QTRY_COMPARE_WITH_TIMEOUT(m_rig->updater->phase(), Phase::installed, 10000);
        QVERIFY(dialog()->isVisible());
        QCOMPARE(buttons(), u"Later|*Restart Velline"_s);
        click(u"Restart Velline"_s);
        QCOMPARE(m_rig->restarts, 1);
        QVERIFY(!dialog()->isVisible());
    }

    void saysWhenUpToDateOrFailing() {
        m_rig->server.route("/appcast.xml", {feedfixture::feed({})});
        m_rig->updater->checkForUpdates();
        QTRY_COMPARE(m_rig->updater->phase(), Phase::upToDate);
        QVERIFY(dialog()->isVisible());
        QCOMPARE(buttons(), u"*OK"_s); // also when the window was hidden before
        click(u"OK"_s);
        QVERIFY(!dialog()->isVisible());

        m_rig->server.route("/appcast.xml", {"oops", TestHttpServer::Mode::normal, 500});
        m_rig->updater->checkForUpdates();
        QTRY_COMPARE(m_rig->updater->phase(), Phase::checkFailed);
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
        QCOMPARE(buttons(), u"*OK"_s);
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : dialog(),
                        Qt::Key(key));
        QVERIFY(updater.phase() == Phase::idle && !dialog()->isVisible());
    }
};

QTEST_MAIN(TestUpdateDialog)
#include "tst_updatedialog.moc"
