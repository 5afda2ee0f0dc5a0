// The whole program against the simulated feed, on a private X server: the compact notch shows
// a symbol, the pointer on it expands the card and pauses the carousel, leaving compacts it.
#include "app/appdelegate.h"
#include "app/demosession.h"
#include "clock/clock.h"
#include "notch/expandedcardsource.h"
#include "notchlayer/notchcontroller.h"
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
using namespace Qt::StringLiterals;

namespace {

void movePointer(QPoint to) {
    const int rc = QProcess::execute(
        u"xdotool"_s, {u"mousemove"_s, QString::number(to.x()), QString::number(to.y())});
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

// Share of the pixels of the screen in `rect` that are near black (gray < 24), or clearly lit
// (> 140: text drawn on the black notch).
double share(const QRectF& rect, bool lit = false) {
    const QImage screen = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    const QRect r = rect.toAlignedRect().intersected(screen.rect());
    int count = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            count += (lit ? qGray(screen.pixel(x, y)) > 140 : qGray(screen.pixel(x, y)) < 24);
    return r.isEmpty() ? 0 : double(count) / (r.width() * r.height());
}

} // namespace

class TestApp : public QObject {
    Q_OBJECT

private Q_SLOTS:
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

        // Compact on the first screen, showing the active symbol from the simulated feed.
        QTRY_VERIFY_WITH_TIMEOUT(notch->isCompact(), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(state.activeStock().has_value(), 10000);
        QVERIFY(state.isRotationArmed());
        const QRect screenRect = QGuiApplication::primaryScreen()->geometry();
        const int centre = screenRect.center().x();
        QQuickItem* symbol = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT(
            (symbol = (visibleTexts(notch->compactLeadingContent(), state.activeStock()->symbol) +
                       visibleTexts(notch->compactTrailingContent(), state.activeStock()->symbol))
                          .value(0)),
            5000);
        // The views fade in after the first quotes.
        const auto symbolRect = [symbol] {
            return symbol->mapRectToScene(QRectF(0, 0, symbol->width(), symbol->height()))
                .translated(symbol->window()->position());
        };
        QTRY_VERIFY_WITH_TIMEOUT(share(symbolRect(), true) > 0, 5000);
        QVERIFY(share(QRect(centre - 60, 2, 120, 16)) > 0.8);
        // Outside the notch the screen stays as it was (the panel does not blacken it).
        QVERIFY(share(QRect(centre - 100, 300, 200, 100)) < 0.05);

        // A right-click of the notch opens the status menu; unless a StatusNotifierItem tray
        // needed it at start, it is built only then.
        if (!delegate.trayIcon()->contextMenu())
            QVERIFY(!delegate.statusMenu());
        notch->requestContextMenu();
        QVERIFY(delegate.statusMenu() && delegate.statusMenu()->isVisible());
        delegate.statusMenu()->close();

        // Pointer on the notch: the card opens and the carousel stops.
        movePointer(QPoint(centre, 10));
        QTRY_VERIFY_WITH_TIMEOUT(notch->isExpanded(), 5000);
        QVERIFY(state.isRotationSuspended() && !state.isRotationArmed());
        QTRY_VERIFY_WITH_TIMEOUT(share(QRect(centre - 100, 60, 200, 40)) > 0.5, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(
            !visibleTexts(notch->expandedContent(), state.activeStock()->symbol).isEmpty(), 5000);

        // Pointer away: compact again, and the carousel runs again from a fresh ten seconds.
        movePointer(QPoint(centre, screenRect.height() - 50));
        QTRY_VERIFY_WITH_TIMEOUT(notch->isCompact(), 5000);
        QVERIFY(!state.isRotationSuspended() && state.isRotationArmed());
        QTRY_VERIFY_WITH_TIMEOUT(share(QRect(centre - 100, 60, 200, 40)) < 0.05, 5000);

        // The card's settings button reaches the program.
        QSignalSpy settings(&delegate, &AppDelegate::settingsRequested);
        NotchActions::shared().openSettings();
        QCOMPARE(settings.count(), 1);
        // The demo kept to its own settings folder.
        QVERIFY(!QFile::exists(userConfig + u"/Velline/Velline.ini"_s));
        QVERIFY(QFile::exists(demo.configFolder() + u"/Velline/Velline.ini"_s));
    }
};

QTEST_MAIN(TestApp)
#include "tst_app.moc"
