// The whole program against the simulated feed, on a private X server: the compact notch shows
// a symbol, the pointer on it expands the card and pauses the carousel, leaving compacts it.
#include "app/appdelegate.h"
#include "app/demosession.h"
#include "app/runstats.h"
#include "clock/clock.h"
#include "feedsim/feedsimulator.h"
#include "notch/expandedcardsource.h"
#include "notchlayer/notchcontroller.h"
#include "settings/settingswindowcontroller.h"
#include "state/appstate.h"

#include <QApplication>
#include <QImage>
#include <QMenu>
#include <QProcess>
#include <QQuickItem>
#include <QQuickWindow>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QWidget>
#include <QtTest>

using namespace velline;

namespace {

void movePointer(QPoint to) {
    const int rc = QProcess::execute(
        QStringLiteral("xdotool"),
        {QStringLiteral("mousemove"), QString::number(to.x()), QString::number(to.y())});
    QVERIFY2(rc == 0, "xdotool is needed for this test");
}

// Visible text items under `root` whose text is exactly `text`.
QList<QQuickItem*> visibleTexts(QQuickItem* root, const QString& text) {
    QList<QQuickItem*> found;
    if (!root || !root->isVisible())
        return found;
    if (root->property("text").toString() == text && root->opacity() > 0)
        found.append(root);
    for (QQuickItem* child : root->childItems())
        found += visibleTexts(child, text);
    return found;
}

// Share of the pixels in `rect` that are near black (gray < 24), or clearly lit (> 140: text
// drawn on the black notch).
double share(const QImage& screen, const QRectF& rect, bool lit = false) {
    const QRect r = rect.toAlignedRect().intersected(screen.rect());
    int count = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            count += (lit ? qGray(screen.pixel(x, y)) > 140 : qGray(screen.pixel(x, y)) < 24);
    return r.isEmpty() ? 0 : double(count) / (r.width() * r.height());
}

QImage grabScreen() {
    return QGuiApplication::primaryScreen()->grabWindow(0).toImage();
}

} // namespace

class TestApp : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void statsCountTheFramesOfEveryQuickWindow() {
        RunStats stats;
        stats.install();
        QVERIFY(stats.line().endsWith(QStringLiteral("frames=0 first-frame=-1.000")));

        QQuickWindow window, other;
        for (QQuickWindow* w : {&window, &other})
            w->resize(40, 40);
        window.show();
        QTRY_VERIFY(stats.frames() > 0);
        // Measured from the start of the process, not from the start of the counting.
        const double uptime = RunStats::uptimeSeconds();
        QVERIFY(stats.firstFrameSeconds() > 0 && *stats.firstFrameSeconds() <= uptime);
        const qint64 drawn = stats.frames();
        window.update();
        QTRY_VERIFY(stats.frames() > drawn);

        // A second window counts too, and a window shown again is not counted twice.
        other.show();
        QVERIFY(QTest::qWaitForWindowExposed(&other));
        window.hide();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const qint64 before = stats.frames();
        QSignalSpy first(&window, &QQuickWindow::frameSwapped);
        QSignalSpy second(&other, &QQuickWindow::frameSwapped);
        window.update();
        other.update();
        QTRY_VERIFY(!first.isEmpty() && !second.isEmpty());
        QCOMPARE(stats.frames() - before, first.size() + second.size());
    }

    void runningTicker() {
        // A light desktop, so the black notch stands out from it.
        QWidget desktop(nullptr, Qt::FramelessWindowHint);
        desktop.setGeometry(QGuiApplication::primaryScreen()->geometry());
        desktop.setPalette(QPalette(QColor(0xc8, 0xc8, 0xc8)));
        desktop.setAutoFillBackground(true);
        desktop.show();
        QVERIFY(QTest::qWaitForWindowExposed(&desktop));
        const QString userConfig = qEnvironmentVariable("XDG_CONFIG_HOME");
        DemoSession demo(Clock::system());
        QString error;
        QVERIFY2(demo.start(&error), qPrintable(error));
        demo.seedPreferences();

        AppDelegate delegate;
        QSignalSpy started(&delegate, &AppDelegate::started);
        delegate.applicationDidFinishLaunching();
        QVERIFY(!delegate.notch()); // the start sequence runs after launching returns
        QVERIFY(started.wait(5000));
        NotchController* notch = delegate.notch();
        AppState& state = delegate.appState();
        QVERIFY(state.isStarted());

        // Compact on the first screen, showing the active symbol from the simulated feed.
        QTRY_VERIFY_WITH_TIMEOUT(notch->isCompact(), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(state.activeStock().has_value(), 10000);
        QVERIFY(!state.isRotationSuspended());
        QVERIFY(state.isRotationArmed());
        QVERIFY(!demo.simulator()->requestLog().isEmpty());

        const QRect screenRect = QGuiApplication::primaryScreen()->geometry();
        const QPoint notchCentre(screenRect.center().x(), 10);
        QQuickItem* symbolText = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT(
            (symbolText =
                 (visibleTexts(notch->compactLeadingContent(), state.activeStock()->symbol) +
                  visibleTexts(notch->compactTrailingContent(), state.activeStock()->symbol))
                     .value(0)),
            5000);
        const auto textRect = [symbolText] {
            return symbolText
                ->mapRectToScene(QRectF(0, 0, symbolText->width(), symbolText->height()))
                .translated(symbolText->window()->position());
        };
        // The views fade in after the first quotes.
        QTRY_VERIFY_WITH_TIMEOUT(share(grabScreen(), textRect(), true) > 0, 5000);
        const QImage screen = grabScreen();
        QVERIFY(share(screen, QRect(notchCentre.x() - 60, 2, 120, 16)) > 0.8);
        // Outside the notch the screen stays as it was (the panel does not blacken it).
        QVERIFY(share(screen, QRect(notchCentre.x() - 100, 300, 200, 100)) < 0.05);

        // A right-click of the notch opens the status menu; unless a StatusNotifierItem tray
        // needed it at start, it is built only then.
        if (!delegate.trayIcon()->contextMenu())
            QVERIFY(!delegate.statusMenu());
        notch->requestContextMenu();
        QVERIFY(delegate.statusMenu() && delegate.statusMenu()->isVisible());
        delegate.statusMenu()->close();

        // Pointer on the notch: the card opens and the carousel stops.
        movePointer(notchCentre);
        QTRY_VERIFY_WITH_TIMEOUT(notch->isExpanded(), 5000);
        QVERIFY(state.isRotationSuspended());
        QVERIFY(!state.isRotationArmed());
        QTRY_VERIFY_WITH_TIMEOUT(
            share(grabScreen(), QRect(notchCentre.x() - 100, 60, 200, 40)) > 0.5, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(
            !visibleTexts(notch->expandedContent(), state.activeStock()->symbol).isEmpty(), 5000);

        // The card's settings button reaches the program.
        QSignalSpy settings(&delegate, &AppDelegate::settingsRequested);
        NotchActions::shared().openSettings();
        QCOMPARE(settings.count(), 1);
        QQuickWindow* settingsWindow = SettingsWindowController::shared().window();
        QVERIFY(settingsWindow);
        QTRY_VERIFY_WITH_TIMEOUT(settingsWindow->isExposed(), 5000);
        QCOMPARE(settingsWindow->title(), QStringLiteral("Velline Settings"));
        settingsWindow->close();

        // Pointer away: compact again, and the carousel runs again from a fresh ten seconds.
        movePointer(QPoint(screenRect.center().x(), screenRect.height() - 50));
        QTRY_VERIFY_WITH_TIMEOUT(notch->isCompact(), 5000);
        QVERIFY(!state.isRotationSuspended());
        QVERIFY(state.isRotationArmed());
        QTRY_VERIFY_WITH_TIMEOUT(
            share(grabScreen(), QRect(notchCentre.x() - 100, 60, 200, 40)) < 0.05, 5000);

        // The demo kept to its own settings folder.
        QVERIFY(!QFile::exists(userConfig + QStringLiteral("/Velline/Velline.ini")));
        QVERIFY(QFile::exists(demo.configFolder() + QStringLiteral("/Velline/Velline.ini")));
    }
};

QTEST_MAIN(TestApp)
#include "tst_app.moc"
