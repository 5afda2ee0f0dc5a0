// The notch panel on a real X server (xvfb-run): what ends up on screen, hover through the
// pointer, clicks passing through, with and without a compositor, and display changes.
#include "notchlayer/notchcontroller.h"
#include "notchlayer/notchpanel.h"
#include "notchlayer/x11support.h"

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

    void cleanupTestCase() { notch.reset(); }

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

    void aCompositorLetsTheTransparentPartsThrough() {
        NotchPanel* panel = visiblePanel();
        QVERIFY(panel);
        QVERIFY(panel->boundingRegion().has_value()); // none yet: masked to the notch

        QProcess compositor;
        compositor.setProcessChannelMode(QProcess::ForwardedOutputChannel);
        compositor.setStandardErrorFile(QProcess::nullDevice());
        compositor.start(QStringLiteral("xcompmgr"), QStringList());
        QVERIFY(compositor.waitForStarted());
        QTRY_VERIFY(x11::CompositorWatcher::instance()->isActive());
        QTRY_VERIFY(!panel->boundingRegion().has_value());
        QString why;
        QTRY_VERIFY2(showsCompactNotch(&why), qPrintable(why));
        // Now only the input region keeps the transparent part from catching clicks.
        backdrop.presses.clear();
        xdotool({"mousemove", "600", "10", "click", "1"});
        xdotool({"mousemove", "960", "132", "click", "1"});
        QTRY_COMPARE(backdrop.presses, (QList<QPoint>{QPoint(600, 10), QPoint(960, 132)}));

        compositor.terminate();
        QVERIFY(compositor.waitForFinished());
        QTRY_VERIFY(panel->boundingRegion().has_value());
        QTRY_VERIFY2(showsCompactNotch(&why), qPrintable(why));
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
