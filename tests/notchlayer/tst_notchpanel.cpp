// The notch panel on a real X server (xvfb-run): what ends up on screen as the pointer opens and
// closes the card, with and without a compositor, and display changes; and the outline's own
// fill on the software scene graph. Clicks passing beside the notch and staying above managed
// windows are checked among real desktop parts (tst_realdesktop).
#include "notchlayer/notchfill.h"
#include "notchlayer/notchitems.h"
#include "notchlayer/x11support.h"
#include "notchrig.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QtQml/qqmlextensionplugin.h>

#include <poll.h>
#include <xcb/xcb.h>

#include <algorithm>

Q_IMPORT_QML_PLUGIN(Velline_NotchLayerPlugin)

using namespace velline;
using namespace velline::panelrig;

namespace {

QImage grabScreen() {
    return QGuiApplication::primaryScreen()->grabWindow(0).toImage();
}

// Pixels of the orange test content; `outside`: only those drawn over the light backdrop (or
// its shadow) rather than over the black notch, where the content stays dark.
int orangePixels(const QImage& img, bool outside = false) {
    int count = 0;
    for (int y = 0; y < img.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(img.constScanLine(y));
        for (int x = 0; x < img.width(); ++x) {
            const QRgb c = row[x];
            count += qRed(c) - qBlue(c) > 30 && (!outside || qBlue(c) > 40) ? 1 : 0;
        }
    }
    return count;
}

void xdotool(const QStringList& args) {
    QCOMPARE(QProcess::execute(QStringLiteral("xdotool"), args), 0);
}

} // namespace

class TestNotchPanel : public QObject {
    Q_OBJECT

    Backdrop backdrop;
    QQmlEngine engine;
    std::unique_ptr<NotchController> notch;
    int centre = 0;
    QProcess compositor;

    void startCompositor() {
        if (compositor.state() == QProcess::NotRunning) {
            compositor.start(QStringLiteral("xcompmgr"), QStringList());
            QVERIFY(compositor.waitForStarted());
        }
        QTRY_VERIFY(x11::CompositorWatcher::instance()->isActive());
    }
    void stopCompositor() {
        compositor.terminate();
        compositor.waitForFinished();
        QTRY_VERIFY(!x11::CompositorWatcher::instance()->isActive());
    }

    // The compact notch as it should look, its body black from the top edge down beside both
    // sides too (no compositor blends it here), and nothing of the panel shown outside it.
    QString compactNotchFault() {
        const QImage img = grabScreen();
        if (const QString fault = panelrig::compactNotchFault(img, centre); !fault.isEmpty())
            return fault;
        const auto [left, right] = blackRun(img, centre, 16);
        for (int y : {0, 4, 26}) {
            for (int x : {left - 104, right + 64}) {
                if (opaque(img, x, y) != kBlack)
                    return QStringLiteral("not black at %1,%2").arg(x).arg(y);
            }
        }
        if (opaque(img, centre, 40) != kGrey || opaque(img, centre - 400, 300) != kGrey)
            return QStringLiteral("panel not transparent outside the notch");
        return {};
    }

    // Leftmost and rightmost pixel of row `y` that is not the backdrop's grey (-1 if none).
    static QPair<int, int> shownSpan(const QImage& img, int y, int from = 0, int to = -1) {
        int left = -1;
        int right = -1;
        for (int x = from; x < (to < 0 ? img.width() : to); ++x) {
            if (opaque(img, x, y) != kGrey) {
                left = left < 0 ? x : left;
                right = x;
            }
        }
        return {left, right};
    }

    // Moves the pointer to row `pointerY` and films the screen around the notch for `ms`.
    QList<QImage> film(int pointerY, int ms) {
        xdotool({"mousemove", "960", QString::number(pointerY)});
        QList<QImage> frames;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < ms) {
            frames << QGuiApplication::primaryScreen()
                          ->grabWindow(0, centre - 300, 0, 600, 260)
                          .toImage()
                          .convertToFormat(QImage::Format_RGB32);
            QTest::qWait(5);
        }
        return frames;
    }

private Q_SLOTS:
    void initTestCase() {
        QScreen* screen = QGuiApplication::primaryScreen();
        centre = screen->geometry().center().x() + 1; // 1920 wide: the centre line is at 960
        compositor.setStandardErrorFile(QProcess::nullDevice());
        backdrop.setFlags(Qt::FramelessWindowHint);
        backdrop.setGeometry(screen->geometry());
        backdrop.show();
        QVERIFY(QTest::qWaitForWindowExposed(&backdrop));
        xdotool({"mousemove", "960", "900"});
        engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
        notch = hoverNotch(engine);
    }

    void cleanupTestCase() {
        compositor.terminate();
        compositor.waitForFinished();
        notch.reset();
    }

    // Without a compositor the panel is masked to the notch; with one it shows through its
    // transparent parts instead.
    void theCardUnfoldsAndFoldsInsideTheOutline() {
        QCOMPARE(steadyFault([this] { return compactNotchFault(); }), QString());
        QVERIFY(visiblePanel()->boundingRegion().has_value());
        startCompositor();
        QTRY_VERIFY(!visiblePanel()->boundingRegion().has_value());
        QCOMPARE(steadyFault([this] { return compactNotchFault(); }), QString());
        const QList<QImage> opening = film(10, 1000);
        QTRY_VERIFY(notch->isExpanded());
        const QList<QImage> closing = film(900, 1000);
        QTRY_VERIFY(notch->isCompact());

        for (const QList<QImage>* frames : {&opening, &closing}) {
            int partial = 0;
            const int whole = orangePixels(frames == &opening ? frames->last() : frames->first());
            for (int i = 0; i < frames->size(); ++i) {
                QVERIFY2(orangePixels(frames->at(i), true) == 0, "content outside the outline");
                const int orange = orangePixels(frames->at(i));
                partial += orange > 0 && orange < whole * 9 / 10 ? 1 : 0;
            }
            // The frames did catch the card on its way.
            QVERIFY2(partial >= 2, qPrintable(QString::number(partial)));
        }
    }

    void aCompactSideThatEmptiesGivesUpItsRoom() {
        NotchPanel* panel = visiblePanel();
        QVERIFY(panel);
        QTRY_VERIFY(notch->isCompact());
        QQuickItem* trailing = notch->compactTrailingContent();
        const auto width = [&] { return panel->inputRegion().boundingRect().width(); };
        QTRY_VERIFY(width() > 400);
        // The outline may still be settling on its spring by a pixel when the first width is
        // read, so widths compare within one pixel.
        const int full = width();
        const auto near = [&](int expected) { return qAbs(width() - expected) <= 1; };
        // Emptied at run time, the side takes no more room than one that starts empty, and
        // takes its room back when it fills again.
        trailing->setImplicitWidth(0);
        QTRY_VERIFY2(near(full - 60), qPrintable(QString::number(width())));
        trailing->setImplicitWidth(60);
        QTRY_VERIFY2(near(full), qPrintable(QString::number(width())));
    }

    void withoutACompositorTheOpenCardKeepsItsOutline() {
        startCompositor();
        xdotool({"mousemove", "960", "10"});
        QTRY_VERIFY(notch->isExpanded());
        QTest::qWait(800); // the spring settles
        // The black body either side of the content (340 points wide, 30 inside the body),
        // row by row, and how far down it reaches beside the content.
        const auto outline = [&] {
            const QImage img = grabScreen();
            QList<QPair<int, int>> rows;
            for (int y : {2, 8, 20, 40, 100, 150, 158})
                rows << qMakePair(blackRun(img, centre - 178, y).first,
                                  blackRun(img, centre + 178, y).second);
            int bottom = 0;
            while (bottom + 1 < img.height() && blackRun(img, centre - 178, bottom + 1).first >= 0)
                ++bottom;
            rows << qMakePair(bottom, bottom);
            return rows;
        };
        // With a compositor the open card casts its shadow; without one nobody could see it.
        const auto shadowShown = [] {
            const auto shadows = visiblePanel()->contentItem()->findChildren<NotchGlow*>();
            return std::any_of(shadows.cbegin(), shadows.cend(),
                               [](const NotchGlow* s) { return s->isVisible(); });
        };
        QTRY_VERIFY(shadowShown());
        const auto composited = outline();
        // The card's body hangs down to below the content (32 + 120 + 15, less the corner).
        QVERIFY2(composited.last().first >= 158 && composited.last().first <= 168,
                 qPrintable(QString::number(composited.last().first)));

        stopCompositor();
        QTRY_VERIFY(visiblePanel() && visiblePanel()->boundingRegion().has_value());
        QTRY_VERIFY(!shadowShown());
        QTest::qWait(200);
        const auto plain = outline();
        for (int i = 0; i < composited.size(); ++i) {
            // Edge pixels blend with the desktop under a compositor, and the visible region
            // takes whole pixels: a pixel or two either way along the curves.
            QVERIFY2(std::abs(plain[i].first - composited[i].first) <= 2 &&
                         std::abs(plain[i].second - composited[i].second) <= 2,
                     qPrintable(QString::number(i)));
        }
        // The visible region is the notch itself: no margin beside or below it.
        NotchPanel* panel = visiblePanel();
        QCOMPARE(panel->boundingRegion()->boundingRect(), panel->inputRegion().boundingRect());
    }

    void withoutACompositorTheGrowingOutlineNeedsNoSecondFrame() {
        QVERIFY(!x11::CompositorWatcher::instance()->isActive());
        NotchPanel* panel = visiblePanel();
        QVERIFY(panel);
        const int skippedBefore = panel->skippedExposes();
        // The card opens and closes; every picture the X server shows has the black body in
        // one piece: no desktop showing through a part the shape has just uncovered.
        const auto watch = [&](int pointerY) {
            const QList<QImage> frames = film(pointerY, 900);
            for (int frame = 0; frame < frames.size(); ++frame) {
                const QImage& img = frames.at(frame);
                for (int y = 0; y < img.height(); y += 3) {
                    const auto [left, right] = shownSpan(img, y);
                    for (int x = left + 1; left >= 0 && x < right; ++x)
                        if (opaque(img, x, y) == kGrey)
                            QFAIL(qPrintable(QString::asprintf("desktop at %d,%d", x, y)));
                }
            }
        };
        // Once the spring has settled, the screen shows exactly the visible region: every
        // pixel the last steps uncovered was drawn.
        const auto settledAsShaped = [&]() -> QString {
            const QRegion visible = panel->boundingRegion().value_or(QRegion());
            const QImage img = grabScreen();
            for (int y = 0; y <= visible.boundingRect().bottom(); ++y) {
                const QRect row = (visible & QRect(0, y, panel->width(), 1)).boundingRect();
                const auto [left, right] =
                    shownSpan(img, y, panel->x(), panel->x() + panel->width());
                if (left != panel->x() + row.left() || right != panel->x() + row.right())
                    return QString::asprintf("row %d shows %d..%d", y, left, right);
            }
            return {};
        };
        watch(10);
        QTRY_VERIFY(notch->isExpanded());
        QTRY_COMPARE(settledAsShaped(), QString());
        watch(900);
        QTRY_VERIFY(notch->isCompact());
        QTRY_COMPARE(settledAsShaped(), QString());
        // The exposes of what the outline uncovered were answered by the frames that grew it.
        QVERIFY2(panel->skippedExposes() > skippedBefore,
                 qPrintable(QString::number(panel->skippedExposes())));

        // Any other expose is drawn: the panel answers it with a frame.
        QSignalSpy frames(panel, &QQuickWindow::frameSwapped);
        QTest::qWait(100);
        frames.clear();
        x11::sendExpose(panel->winId(), QRect(0, 0, 40, 40));
        QTRY_VERIFY(!frames.isEmpty());
    }

    // Opening the card moves the outline's width, height, place and radii in every frame; the
    // X server hears of the new shape once a frame, not once for each of them.
    void theShapeChangesOnceAFrame() {
        QVERIFY(!x11::CompositorWatcher::instance()->isActive());
        NotchPanel* panel = visiblePanel();
        QVERIFY(panel);
        QSignalSpy frames(panel, &QQuickWindow::frameSwapped);
        QSignalSpy shapes(panel, &NotchPanel::shapeApplied);
        for (int pointerY : {10, 900}) {
            frames.clear();
            shapes.clear();
            xdotool({"mousemove", "960", QString::number(pointerY)});
            QTest::qWait(900);
            QVERIFY2(shapes.size() > 10, qPrintable(QString::number(shapes.size())));
            QVERIFY2(shapes.size() <= frames.size(),
                     qPrintable(QStringLiteral("%1 shapes in %2 frames")
                                    .arg(shapes.size())
                                    .arg(frames.size())));
        }
        QTRY_VERIFY(notch->isCompact());
    }

    // A frame's picture goes out without the frame's next request sleeping until the server
    // has read it: after an upload larger than a sliding compact notch's frame (400 x 60 pixels)
    // the connection still takes more at once.
    void aFramesPictureLeavesRoomForTheNextRequest() {
        QVERIFY(visiblePanel());
        auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
        xcb_connection_t* c = x11->connection();
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        const xcb_pixmap_t pixmap = xcb_generate_id(c);
        const xcb_gcontext_t gc = xcb_generate_id(c);
        xcb_create_pixmap(c, 24, pixmap, screen->root, 400, 60);
        xcb_create_gc(c, gc, pixmap, 0, nullptr);
        const std::vector<uint8_t> picture(400 * 60 * 4, 0x80);
        xcb_put_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, pixmap, gc, 400, 60, 0, 0, 0, 24,
                      uint32_t(picture.size()), picture.data());
        xcb_flush(c);
        pollfd socket{xcb_get_file_descriptor(c), POLLOUT, 0};
        const int ready = poll(&socket, 1, 0);
        xcb_free_gc(c, gc);
        xcb_free_pixmap(c, pixmap);
        xcb_flush(c);
        QCOMPARE(ready, 1);
        QVERIFY(socket.revents & POLLOUT);
    }

    void overlayAreasStayVisibleBesideTheNotch() {
        // No compositor: only the notch and the areas marked to stay are shown.
        QVERIFY(!x11::CompositorWatcher::instance()->isActive());
        NotchPanel* panel = visiblePanel();
        QVERIFY(panel);
        QQmlComponent component(&engine);
        component.setData(R"(import QtQuick
            import Velline.NotchLayer
            Rectangle { color: "#0a84ff"; NotchOverlayArea { anchors.fill: parent; radius: 4 } })",
                          QUrl());
        std::unique_ptr<QQuickItem> tip(qobject_cast<QQuickItem*>(component.create()));
        QVERIFY2(tip, qPrintable(component.errorString()));
        // Beside the open card, past its right edge (the panel starts at x 480).
        const QRect area(centre - 480 + 150, 120, 160, 24);
        tip->setParentItem(panel->contentItem());
        tip->setPosition(area.topLeft());
        tip->setSize(area.size());
        const QPoint inside(centre + 150 + 140, 132);
        QTRY_COMPARE(opaque(grabScreen(), inside.x(), inside.y()), kBlue);
        QVERIFY(panel->boundingRegion()->contains(area.center()));
        QVERIFY(!panel->inputRegion().contains(area.center())); // it takes no clicks

        tip->setVisible(false);
        QTRY_COMPARE(opaque(grabScreen(), inside.x(), inside.y()), kGrey);
        tip.reset();
        xdotool({"mousemove", "960", "900"});
        QTRY_VERIFY(notch->isCompact());
    }

    void aDisplayChangeRebuildsThePanelInFront() {
        // Xvfb's RandR cannot add outputs, monitors or modes, so the change is announced the
        // way Qt reports one: through the screen's signals.
        NotchPanel* before = visiblePanel();
        QVERIFY(before);
        backdrop.raise();
        QTRY_COMPARE(opaque(grabScreen(), centre, 16), kGrey);

        QScreen* screen = QGuiApplication::primaryScreen();
        Q_EMIT screen->geometryChanged(screen->geometry());
        Q_EMIT screen->availableGeometryChanged(screen->availableGeometry());
        QTRY_VERIFY(visiblePanel() && visiblePanel() != before);
        QCOMPARE(visiblePanel()->screen(), screen);
        QVERIFY(notch->isCompact());
        QCOMPARE(steadyFault([this] { return compactNotchFault(); }), QString());
    }

    // The fill draws the outline (the Shapes fallback stays unloaded), and each change of the
    // outline asks for one frame, and no second one after it.
    void theFillDrawsTheOutlineOnceAStep() {
        QVERIFY(NotchFill::isSupported());
        QQmlComponent component(&engine);
        component.setData(R"(import QtQuick
            import Velline.NotchLayer
            Window {
                width: 200; height: 80; color: "white"; visible: true
                NotchShape {
                    x: 10; width: 180; height: 40; color: "#ff0000"
                    topCornerRadius: 6; bottomCornerRadius: 14
                }
            })",
                          QUrl());
        std::unique_ptr<QObject> root(component.create());
        QVERIFY2(root, qPrintable(component.errorString()));
        auto* window = qobject_cast<QQuickWindow*>(root.get());
        QVERIFY(QTest::qWaitForWindowExposed(window));
        auto* fill = root->findChild<NotchFill*>();
        QVERIFY(fill && fill->isVisible());

        QTRY_COMPARE(window->grabWindow().pixel(100, 20), qRgb(255, 0, 0));
        const QImage image = window->grabWindow();
        // The top fillets flare out: the corner of the bounding box is filled at the top edge,
        // the bottom corners are rounded away.
        QCOMPARE(image.pixel(20, 0), qRgb(255, 0, 0));
        QCOMPARE(image.pixel(14, 39), qRgb(255, 255, 255));

        QSignalSpy frames(window, &QQuickWindow::frameSwapped);
        QTest::qWait(50);
        frames.clear();
        auto* shape = fill->parentItem();
        for (int step = 1; step <= 5; ++step) {
            shape->setWidth(180 - 4 * step);
            QVERIFY(frames.wait(1000));
            QTest::qWait(40);
            QCOMPARE(frames.size(), step);
        }
        QCOMPARE(window->grabWindow().pixel(189, 10), qRgb(255, 255, 255)); // narrower now

        // A hidden painted item keeps its change for when it shows again instead of painting.
        NotchGlow glow(window->contentItem());
        glow.setSize({60, 30});
        glow.setVisible(false);
        glow.setRadius(4);
        QVERIFY(frames.wait(1000));
        QVERIFY(glow.hasPendingPaint());
        glow.setVisible(true);
        QTRY_VERIFY(!glow.hasPendingPaint());
    }
};

int main(int argc, char** argv) {
    NotchPanel::selectDefaultGraphicsApi();
    QGuiApplication app(argc, argv);
    TestNotchPanel test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_notchpanel.moc"
