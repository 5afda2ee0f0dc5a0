// Under a real window manager (openbox, on the test's own X server) the settings window comes to
// the front and takes the focus from another window, also when it was hidden.
#include "prefs/userpreferences.h"
#include "settings/settingswindowcontroller.h"

#include <QProcess>
#include <QRasterWindow>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QtQml/qqmlextensionplugin.h>

#include <memory>

Q_IMPORT_QML_PLUGIN(Velline_SettingsPlugin)
Q_IMPORT_QML_PLUGIN(Velline_NotchPlugin)
Q_IMPORT_QML_PLUGIN(Velline_NotchLayerPlugin)
Q_IMPORT_QML_PLUGIN(Velline_PrefsPlugin)

using namespace velline;

class TestSettingsFront : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void showTakesTheFocusFromAnotherWindow();

private:
    QProcess m_wm;
    QTemporaryDir m_dir;
};

void TestSettingsFront::initTestCase() {
    const QString openbox = QStandardPaths::findExecutable(QStringLiteral("openbox"));
    if (openbox.isEmpty())
        QSKIP("openbox is not installed");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.filePath(QStringLiteral("config"))));
    m_wm.start(openbox, {QStringLiteral("--sm-disable")});
    QVERIFY(m_wm.waitForStarted());
    // The window manager is up once it has claimed the screen: windows then get frames.
    QRasterWindow probe;
    probe.resize(100, 100);
    probe.show();
    QTRY_VERIFY_WITH_TIMEOUT(probe.frameMargins().top() > 0, 10000);
}

void TestSettingsFront::cleanupTestCase() {
    if (m_wm.state() != QProcess::NotRunning) {
        m_wm.terminate();
        m_wm.waitForFinished(5000);
    }
}

void TestSettingsFront::showTakesTheFocusFromAnotherWindow() {
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    QSettings settings(m_dir.filePath(QStringLiteral("Velline.ini")), QSettings::IniFormat);
    UserPreferences prefs(&settings);
    SettingsWindowController controller;
    controller.setPrefs(&prefs);

    QRasterWindow other;
    other.setTitle(QStringLiteral("Other"));
    other.setGeometry(100, 100, 1400, 900);
    for (int round = 0; round < 2; ++round) {
        other.show();
        other.raise();
        other.requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(&other));

        controller.show();
        QQuickWindow* window = controller.window();
        QVERIFY(window);
        QVERIFY(QTest::qWaitForWindowActive(window));
        QVERIFY(!other.isActive());
        // Decorated by the window manager, content still exactly 820 x 640.
        QVERIFY(window->frameMargins().top() > 0);
        QCOMPARE(window->size(), QSize(820, 640));

        // Still open but behind the other window: brought back to the front.
        other.raise();
        other.requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        controller.show();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QVERIFY(!other.isActive());

        window->close();
        QTRY_VERIFY(!window->isVisible());
    }
}

QTEST_MAIN(TestSettingsFront)
#include "tst_settingsfront.moc"
