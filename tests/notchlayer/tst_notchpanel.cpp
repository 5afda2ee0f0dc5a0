// The notch panel on a real X server (xvfb-run): what ends up on screen, hover through the
// pointer, clicks passing through, with and without a compositor, and display changes.
#include "notchlayer/notchcontroller.h"
#include "notchlayer/notchitems.h"
#include "notchlayer/notchpanel.h"
#include "notchlayer/x11support.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QProcess>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QRasterWindow>
#include <QScreen>
#include <QTest>
#include <QtQml/qqmlextensionplugin.h>

#include <algorithm>

Q_IMPORT_QML_PLUGIN(Velline_NotchLayerPlugin)

using namespace velline;

namespace {

const QRgb kGrey = qRgb(0xc8, 0xc8, 0xc8);
const QRgb kBlack = qRgb(0, 0, 0);
const QRgb kGreen = qRgb(0x34, 0xc7, 0x59);
const QRgb kBlue = qRgb(0x0a, 0x84, 0xff);
const QRgb kOrange = qRgb(0xff, 0x9f, 0x0a);

// A plain window under the notch that records where it is clicked.
class Backdrop : public QRasterWindow {
public:
    QList<QPoint> presses;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter(this).fillRect(QRect(QPoint(), size()), QColor(kGrey));
    }
    void mousePressEvent(QMouseEvent* e) override { presses << e->globalPosition().toPoint(); }
};

struct Run {
    int start;
    int length;
    QRgb color;
};

QList<Run> runsOf(const QImage& img, int y) {
    QList<Run> runs;
    for (int x = 0; x < img.width(); ++x) {
        const QRgb c = img.pixel(x, y) | 0xff000000;
        if (runs.isEmpty() || runs.last().color != c)
            runs.append({x, 1, c});
        else
            ++runs.last().length;
    }
    return runs;
}

const Run* find(const QList<Run>& runs, QRgb color) {
    for (const Run& r : runs) {
        if (r.color == color)
            return &r;
    }
    return nullptr;
}

QImage grabScreen() {
    return QGuiApplication::primaryScreen()->grabWindow(0).toImage();
}

// Pixels of the orange test content drawn over the light backdrop (or its shadow) rather
// than over the black notch: over black the content stays dark, over grey it is bright.
int contentOutsideTheOutline(const QImage& img) {
    int count = 0;
    for (int y = 0; y < img.height(); ++y) {
        for (int x = 0; x < img.width(); ++x) {
            const QRgb c = img.pixel(x, y);
            if (qBlue(c) > 40 && qRed(c) - qBlue(c) > 30)
                ++count;
        }
    }
    return count;
}

int orangePixels(const QImage& img) {
    int count = 0;
    for (int y = 0; y < img.height(); ++y) {
        for (int x = 0; x < img.width(); ++x) {
            const QRgb c = img.pixel(x, y);
            if (qRed(c) - qBlue(c) > 30)
                ++count;
        }
    }
    return count;
}

// The solid black notch along row `y`: the run of black pixels through column `x`.
QPair<int, int> blackRun(const QImage& img, int x, int y) {
    const auto black = [&](int px) {
        const QRgb c = img.pixel(px, y);
        return qRed(c) < 12 && qGreen(c) < 12 && qBlue(c) < 12;
    };
    if (!black(x))
        return {-1, -1};
    int left = x;
    int right = x;
    while (left > 0 && black(left - 1))
        --left;
    while (right < img.width() - 1 && black(right + 1))
        ++right;
    return {left, right};
}

void xdotool(const QStringList& args) {
    QCOMPARE(QProcess::execute(QStringLiteral("xdotool"), args), 0);
}

NotchPanel* visiblePanel() {
    const auto windows = QGuiApplication::topLevelWindows();
    for (QWindow* w : windows) {
        if (auto* p = qobject_cast<NotchPanel*>(w); p && p->isVisible())
            return p;
    }
    return nullptr;
}

const char* kLeading = R"(import QtQuick
Rectangle { implicitWidth: 100; implicitHeight: 20; color: "#34c759" })";
const char* kTrailing = R"(import QtQuick
Rectangle { implicitWidth: 60; implicitHeight: 20; color: "#0a84ff" })";
const char* kExpanded = R"(import QtQuick
Rectangle { implicitWidth: 340; implicitHeight: 120; color: "#ff9f0a" })";

} // namespace

class TestNotchPanel : public QObject {
    Q_OBJECT

    Backdrop backdrop;
    QQmlEngine engine;
    std::unique_ptr<NotchController> notch;
    int centre = 0;
    std::unique_ptr<QProcess> compositor;

    void startCompositor() {
        if (compositor)
            return;
        compositor = std::make_unique<QProcess>();
        compositor->setStandardErrorFile(QProcess::nullDevice());
        compositor->start(QStringLiteral("xcompmgr"), QStringList());
        QVERIFY(compositor->waitForStarted());
        QTRY_VERIFY(x11::CompositorWatcher::instance()->isActive());
    }
    void stopCompositor() {
        if (!compositor)
            return;
        compositor->terminate();
        compositor->waitForFinished();
        compositor.reset();
    }

    NotchContentBuilder content(const char* qml) {
        auto* c = new QQmlComponent(&engine, &engine);
        c->setData(qml, QUrl());
        return NotchController::fromComponent(c);
    }

    // The compact notch as drawn: a gap exactly as wide as the notch, centred on the screen,
    // between the two sides, inside one black shape hanging from the top edge.
    bool showsCompactNotch(QString* why) {
        const QImage img = grabScreen();
        const auto row = runsOf(img, 16);
        const Run* green = find(row, kGreen);
        const Run* blue = find(row, kBlue);
        if (!green || !blue)
            return *why = QStringLiteral("sides not drawn"), false;
        const int gapStart = green->start + green->length;
        const int gapEnd = blue->start;
        for (int x = gapStart; x < gapEnd; ++x) {
            if ((img.pixel(x, 16) | 0xff000000) != kBlack)
                return *why = QStringLiteral("gap not black at %1").arg(x), false;
        }
        if (gapEnd - gapStart != 300 || gapStart + gapEnd != 2 * centre)
            return *why = QStringLiteral("gap %1..%2").arg(gapStart).arg(gapEnd), false;
        // The black body reaches from the top edge to below the sides, left of the green
        // side and right of the blue one; the screen shows through just below.
        for (int y : {0, 4, 26}) {
            for (int x : {green->start - 4, centre, blue->start + blue->length + 3}) {
                if ((img.pixel(x, y) | 0xff000000) != kBlack)
                    return *why = QStringLiteral("not black at %1,%2").arg(x).arg(y), false;
            }
        }
        if ((img.pixel(centre, 40) | 0xff000000) != kGrey ||
            (img.pixel(centre - 400, 300) | 0xff000000) != kGrey)
            return *why = QStringLiteral("panel not transparent outside the notch"), false;
        return true;
    }

private Q_SLOTS:
    void initTestCase() {
        QScreen* screen = QGuiApplication::primaryScreen();
        centre = screen->geometry().center().x() + 1; // 1920 wide: the centre line is at 960
        backdrop.setFlags(Qt::FramelessWindowHint);
        backdrop.setGeometry(screen->geometry());
        backdrop.show();
        QVERIFY(QTest::qWaitForWindowExposed(&backdrop));
        xdotool({"mousemove", "960", "900"});

        notch = std::make_unique<NotchController>(NotchHoverOption::all, NotchStyle::notch(),
                                                  content(kExpanded), content(kLeading),
                                                  content(kTrailing), &engine);
        // The owner's part: expand while hovered, compact otherwise.
        connect(notch.get(), &NotchController::isHoveringChanged, this, [this] {
            if (notch->isHovering())
                notch->expand(QGuiApplication::primaryScreen());
            else
                notch->compact(QGuiApplication::primaryScreen());
        });
        notch->compact(QGuiApplication::primaryScreen());
    }

    void cleanupTestCase() {
        stopCompositor();
        notch.reset();
    }

    void compactNotchHangsCentredWithTheNotchWideGap() {
        QString why;
        QTRY_VERIFY2(showsCompactNotch(&why), qPrintable(why));
        // The leading side is 40 points wider: the body is shifted 20 points towards it.
        const auto row = runsOf(grabScreen(), 28);
        const Run* body = find(row, kBlack);
        QVERIFY(body);
        QVERIFY2(std::abs(body->start + body->length / 2 - (centre - 20)) <= 1,
                 qPrintable(QString::number(body->start + body->length / 2)));

        NotchPanel* panel = visiblePanel();
        QVERIFY(panel);
        QCOMPARE(panel->geometry(), QRect(480, 0, 960, 540));
        QVERIFY(panel->flags().testFlag(Qt::WindowDoesNotAcceptFocus));
        QCOMPARE(x11::atomListProperty(panel->winId(), "_NET_WM_WINDOW_TYPE"),
                 QStringList{"_NET_WM_WINDOW_TYPE_DOCK"});
        const QStringList states = x11::atomListProperty(panel->winId(), "_NET_WM_STATE");
        for (const char* s : {"_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER",
                              "_NET_WM_STATE_STICKY", "_NET_WM_STATE_ABOVE"})
            QVERIFY2(states.contains(QLatin1String(s)), s);
    }

    void hoveringLetsTheOwnerExpandBelowTheNotch() {
        xdotool({"mousemove", "960", "10"});
        QTRY_VERIFY(notch->isHovering());
        QTRY_VERIFY(notch->isExpanded());
        QTRY_COMPARE(grabScreen().pixel(centre, 32 + 60) | 0xff000000, kOrange);
        const QImage img = grabScreen();
        QCOMPARE(img.pixel(centre, 16) | 0xff000000, kBlack); // the notch itself stays black
        QCOMPARE(img.pixel(centre, 31) | 0xff000000, kBlack); // the card starts below it
        QCOMPARE(img.pixel(centre, 32) | 0xff000000, kOrange);
        QCOMPARE(img.pixel(centre, 32 + 120 + 8) | 0xff000000, kBlack); // 15-point inset
    }

    void clicksBesideTheNotchReachTheWindowBelow() {
        // 100 points below the expanded notch (32 + 120 + 15 tall).
        xdotool({"mousemove", "960", "267", "click", "1"});
        QTRY_VERIFY(backdrop.presses.contains(QPoint(960, 267)));
        QTRY_VERIFY(notch->isCompact());
        QString why;
        QTRY_VERIFY2(showsCompactNotch(&why), qPrintable(why));

        // Inside the panel but beside the notch, too; on the notch, not.
        backdrop.presses.clear();
        xdotool({"mousemove", "600", "10", "click", "1"});
        QTRY_COMPARE(backdrop.presses, QList<QPoint>{QPoint(600, 10)});
        xdotool({"mousemove", "960", "20", "click", "1"});
        QTRY_VERIFY(notch->isExpanded());
        QCOMPARE(backdrop.presses.size(), 1);
        xdotool({"mousemove", "960", "900"});
        QTRY_VERIFY(notch->isCompact());
    }

    void raisesItselfWhenAManagedWindowCoversIt() {
        NotchPanel* panel = visiblePanel();
        QVERIFY(panel);
        QVERIFY(!x11::coveredByManagedWindow(panel->winId()));
        backdrop.raise(); // no window manager here: straight to the top
        QTRY_VERIFY(x11::coveredByManagedWindow(panel->winId()));
        const int raises = panel->stackingRaises();
        // What a window manager announces after it restacked its windows.
        QCOMPARE(
            QProcess::execute(QStringLiteral("xprop"),
                              {"-root", "-f", "_NET_CLIENT_LIST_STACKING", "32c", "-set",
                               "_NET_CLIENT_LIST_STACKING", QString::number(backdrop.winId())}),
            0);
        QTRY_VERIFY(!x11::coveredByManagedWindow(panel->winId()));
        QCOMPARE(panel->stackingRaises(), raises + 1);
        QString why;
        QTRY_VERIFY2(showsCompactNotch(&why), qPrintable(why));
    }

    void aCompositorLetsTheTransparentPartsThrough() {
        NotchPanel* panel = visiblePanel();
        QVERIFY(panel);
        QVERIFY(panel->boundingRegion().has_value()); // none yet: masked to the notch

        startCompositor();
        QTRY_VERIFY(!panel->boundingRegion().has_value());
        QString why;
        QTRY_VERIFY2(showsCompactNotch(&why), qPrintable(why));
        // Now only the input region keeps the transparent part from catching clicks.
        backdrop.presses.clear();
        xdotool({"mousemove", "600", "10", "click", "1"});
        xdotool({"mousemove", "960", "132", "click", "1"});
        QTRY_COMPARE(backdrop.presses, (QList<QPoint>{QPoint(600, 10), QPoint(960, 132)}));

        stopCompositor();
        QTRY_VERIFY(panel->boundingRegion().has_value());
        QTRY_VERIFY2(showsCompactNotch(&why), qPrintable(why));
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
        // Emptied at run time, the side takes no more room than one that starts empty...
        trailing->setImplicitWidth(0);
        QTRY_VERIFY2(near(full - 60), qPrintable(QString::number(width())));
        // ...and takes its room back when it fills again.
        trailing->setImplicitWidth(60);
        QTRY_VERIFY2(near(full), qPrintable(QString::number(width())));
    }

    void theCardUnfoldsAndFoldsInsideTheOutline() {
        startCompositor();
        QTRY_VERIFY(notch->isCompact());
        QScreen* screen = QGuiApplication::primaryScreen();
        const auto record = [&](QList<QImage>& frames) {
            QElapsedTimer clock;
            clock.start();
            while (clock.elapsed() < 1000) {
                frames << screen->grabWindow(0, centre - 300, 0, 600, 260).toImage();
                QTest::qWait(5);
            }
        };
        QList<QImage> opening;
        xdotool({"mousemove", "960", "10"});
        record(opening);
        QTRY_VERIFY(notch->isExpanded());
        QList<QImage> closing;
        xdotool({"mousemove", "960", "900"});
        record(closing);
        QTRY_VERIFY(notch->isCompact());

        for (const QList<QImage>* frames : {&opening, &closing}) {
            int partial = 0;
            const int whole = orangePixels(frames == &opening ? frames->last() : frames->first());
            for (int i = 0; i < frames->size(); ++i) {
                const QImage& frame = frames->at(i);
                // NOTCH_FRAMES=DIR keeps the frames for a look.
                if (qEnvironmentVariableIsSet("NOTCH_FRAMES"))
                    frame.save(QStringLiteral("%1/%2-%3.png")
                                   .arg(qEnvironmentVariable("NOTCH_FRAMES"),
                                        frames == &opening ? "open" : "close")
                                   .arg(i, 2, 10, QLatin1Char('0')));
                QVERIFY2(contentOutsideTheOutline(frame) == 0,
                         qPrintable(QStringLiteral("frame %1 of %2 shows content outside")
                                        .arg(i)
                                        .arg(frames == &opening ? "opening" : "closing")));
                const int orange = orangePixels(frame);
                if (orange > 0 && orange < whole * 9 / 10)
                    ++partial;
            }
            // The frames did catch the card on its way.
            QVERIFY2(partial >= 2, qPrintable(QString::number(partial)));
        }
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
        QTRY_VERIFY(!x11::CompositorWatcher::instance()->isActive());
        QTRY_VERIFY(visiblePanel() && visiblePanel()->boundingRegion().has_value());
        QTRY_VERIFY(!shadowShown());
        QTest::qWait(200);
        const auto plain = outline();
        for (int i = 0; i < composited.size(); ++i) {
            // Edge pixels blend with the desktop under a compositor, and the visible region
            // takes whole pixels: a pixel or two either way along the curves.
            QVERIFY2(std::abs(plain[i].first - composited[i].first) <= 2 &&
                         std::abs(plain[i].second - composited[i].second) <= 2,
                     qPrintable(QStringLiteral("row %1: %2..%3 without, %4..%5 with")
                                    .arg(i)
                                    .arg(plain[i].first)
                                    .arg(plain[i].second)
                                    .arg(composited[i].first)
                                    .arg(composited[i].second)));
        }
        // The visible region is the notch itself: no margin beside or below it.
        NotchPanel* panel = visiblePanel();
        QCOMPARE(panel->boundingRegion()->boundingRect(), panel->inputRegion().boundingRect());
    }

    void withoutACompositorTheGrowingOutlineNeedsNoSecondFrame() {
        QVERIFY(!x11::CompositorWatcher::instance()->isActive());
        NotchPanel* panel = visiblePanel();
        QVERIFY(panel);
        QScreen* screen = QGuiApplication::primaryScreen();
        const int skippedBefore = panel->skippedExposes();
        // The card opens and closes; every picture the X server shows has the black body in
        // one piece: no desktop showing through a part the shape has just uncovered.
        const auto watch = [&](const QString& what) {
            QElapsedTimer clock;
            clock.start();
            int frames = 0;
            while (clock.elapsed() < 900) {
                const QImage img = screen->grabWindow(0, centre - 300, 0, 600, 260).toImage();
                ++frames;
                for (int y = 0; y < img.height(); y += 3) {
                    int left = -1;
                    int right = -1;
                    for (int x = 0; x < img.width(); ++x) {
                        if ((img.pixel(x, y) | 0xff000000) != kGrey) {
                            left = left < 0 ? x : left;
                            right = x;
                        }
                    }
                    for (int x = left + 1; left >= 0 && x < right; ++x) {
                        QVERIFY2((img.pixel(x, y) | 0xff000000) != kGrey,
                                 qPrintable(QStringLiteral("%1, picture %2: desktop at %3,%4")
                                                .arg(what)
                                                .arg(frames)
                                                .arg(x)
                                                .arg(y)));
                    }
                }
                QTest::qWait(5);
            }
        };
        // Once the spring has settled, the screen shows exactly the visible region: every
        // pixel the last steps uncovered was drawn.
        const auto settledAsShaped = [&]() -> QString {
            const QRegion visible = panel->boundingRegion().value_or(QRegion());
            const QImage img = grabScreen();
            for (int y = 0; y <= visible.boundingRect().bottom(); ++y) {
                const QRect row = (visible & QRect(0, y, panel->width(), 1)).boundingRect();
                int left = -1;
                int right = -1;
                for (int x = panel->x(); x < panel->x() + panel->width(); ++x) {
                    if ((img.pixel(x, y) | 0xff000000) != kGrey) {
                        left = left < 0 ? x : left;
                        right = x;
                    }
                }
                if (left != panel->x() + row.left() || right != panel->x() + row.right())
                    return QStringLiteral("row %1 shows %2..%3, the shape is %4..%5")
                        .arg(y)
                        .arg(left)
                        .arg(right)
                        .arg(panel->x() + row.left())
                        .arg(panel->x() + row.right());
            }
            return {};
        };
        xdotool({"mousemove", "960", "10"});
        watch(QStringLiteral("opening"));
        QTRY_VERIFY(notch->isExpanded());
        QTRY_COMPARE(settledAsShaped(), QString());
        xdotool({"mousemove", "960", "900"});
        watch(QStringLiteral("closing"));
        QTRY_VERIFY(notch->isCompact());
        QTRY_COMPARE(settledAsShaped(), QString());
        // The exposes of what the outline uncovered were answered by the frames that grew it.
        QVERIFY2(panel->skippedExposes() > skippedBefore,
                 qPrintable(QString::number(panel->skippedExposes())));

        // Any other expose is drawn: the panel answers it with a frame.
        int frames = 0;
        const auto counter = connect(panel, &QQuickWindow::frameSwapped, this, [&] { ++frames; });
        QTest::qWait(100);
        frames = 0;
        x11::sendExpose(panel->winId(), QRect(0, 0, 40, 40));
        QTRY_VERIFY(frames > 0);
        disconnect(counter);
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
        QTRY_COMPARE(grabScreen().pixel(inside) | 0xff000000, kBlue);
        QVERIFY(panel->boundingRegion()->contains(area.center()));
        QVERIFY(!panel->inputRegion().contains(area.center())); // it takes no clicks

        tip->setVisible(false);
        QTRY_COMPARE(grabScreen().pixel(inside) | 0xff000000, kGrey);
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
        QTRY_COMPARE(grabScreen().pixel(centre, 16) | 0xff000000, kGrey);

        QScreen* screen = QGuiApplication::primaryScreen();
        Q_EMIT screen->geometryChanged(screen->geometry());
        Q_EMIT screen->availableGeometryChanged(screen->availableGeometry());
        QTRY_VERIFY(visiblePanel() && visiblePanel() != before);
        QCOMPARE(visiblePanel()->screen(), screen);
        QVERIFY(notch->isCompact());
        QString why;
        QTRY_VERIFY2(showsCompactNotch(&why), qPrintable(why));
    }
};

int main(int argc, char** argv) {
    NotchPanel::selectDefaultGraphicsApi();
    QGuiApplication app(argc, argv);
    TestNotchPanel test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_notchpanel.moc"
