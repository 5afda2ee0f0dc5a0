#include "clock/manualclock.h"
#include "input/trackpadswipe.h"
#include "input/trackpadswipemonitor.h"

#include <QPointingDevice>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QWheelEvent>
#include <QtPlugin>
#include <QtQml/qqmlextensionplugin.h>
#include <QtTest>

#include <memory>

Q_IMPORT_QML_PLUGIN(Velline_InputPlugin)

using namespace velline;

namespace {

// How an event was produced: a trackpad on Wayland (pixel deltas with phases), a trackpad on
// X11 (angle deltas, no phases, touchpad device) or a classic mouse wheel.
enum class Source { pixels, touchpadAngle, mouseWheel };

// Owned by the application, so they go away before Qt's own devices do.
const QPointingDevice* device(bool touchpad) {
    static const auto make = [](const char* name, qint64 id, QInputDevice::DeviceType type) {
        return new QPointingDevice(name, id, type, QPointingDevice::PointerType::Generic,
                                   QInputDevice::Capability::Position |
                                       QInputDevice::Capability::Scroll,
                                   2, 3, QString(), QPointingDeviceUniqueId(), qApp);
    };
    static const QPointingDevice* pad = make("pad", 1001, QInputDevice::DeviceType::TouchPad);
    static const QPointingDevice* wheel = make("wheel", 1002, QInputDevice::DeviceType::Mouse);
    return touchpad ? pad : wheel;
}

struct Scroll {
    double dx, dy = 0;
    Qt::ScrollPhase phase = Qt::ScrollUpdate;
    Source source = Source::pixels;
    double after = 0; // seconds since the previous scroll
};
using Scrolls = QList<Scroll>;
using Swipes = QList<SwipeDirection>;

// A scroll of (dx, dy) pixels.
QWheelEvent wheel(const Scroll& s) {
    const QPoint pixels(qRound(s.dx), qRound(s.dy));
    const QPoint angle(qRound(s.dx * 8), qRound(s.dy * 8));
    const bool usePixels = s.source == Source::pixels;
    return QWheelEvent(QPointF(10, 10), QPointF(10, 10), usePixels ? pixels : QPoint(),
                       usePixels ? QPoint() : angle, Qt::NoButton, Qt::NoModifier, s.phase, false,
                       Qt::MouseEventNotSynthesized, device(s.source != Source::mouseWheel));
}

void send(QWindow* window, const Scroll& s) {
    QWheelEvent event = wheel(s);
    QCoreApplication::sendEvent(window, &event);
}

} // namespace

class TestTrackpadSwipe : public QObject {
    Q_OBJECT

private:
    ManualClock clock;
    Swipes swipes;
    TrackpadSwipeMonitor::Handler record() {
        return [this](SwipeDirection d) { swipes.append(d); };
    }

private Q_SLOTS:
    void init() { swipes.clear(); }

    void oneSwipePerGestureAtInclusiveThreshold_data() {
        QTest::addColumn<Scrolls>("scrolls");
        QTest::addColumn<Swipes>("expected");
        const auto right = SwipeDirection::right, left = SwipeDirection::left;
        const auto begin = Qt::ScrollBegin, end = Qt::ScrollEnd;
        QTest::newRow("once per gesture")
            << Scrolls{{0, 0, begin}, {20}, {20}, {15}, {100}, {-300}} << Swipes{right};
        QTest::newRow("49 at once") << Scrolls{{49}} << Swipes{};
        QTest::newRow("50 at once") << Scrolls{{50}} << Swipes{right};
        QTest::newRow("end resets, then -50")
            << Scrolls{{60}, {1, 0, end}, {-25}, {-25}} << Swipes{right, left};
        QTest::newRow("mostly horizontal begin resets")
            << Scrolls{{60}, {-2, 1, begin}, {60}} << Swipes{right, right};
        QTest::newRow("begin and end without horizontal movement do not")
            << Scrolls{{60}, {0, 0, begin}, {0, 5, end}, {60}} << Swipes{right};
        // Diagonal and vertical movement, a classic wheel's horizontal tilt and momentum after
        // the fingers lift add nothing.
        const auto wheelTilt = Scroll{60, 0, Qt::NoScrollPhase, Source::mouseWheel};
        QTest::newRow("ignored")
            << Scrolls{{60, 60}, {-30, -40}, {200, 0, Qt::ScrollMomentum}, wheelTilt} << Swipes{};
        // X11: a touchpad without phases, angle deltas read as angle / 8 pixels. A pause of
        // 200 ms ends the gesture, a shorter one does not; a vertical scroll keeps it alive.
        const auto x11 = [](double dx, double after = 0, double dy = 0) {
            return Scroll{dx, dy, Qt::NoScrollPhase, Source::touchpadAngle, after};
        };
        QTest::newRow("x11") << Scrolls{x11(-49), x11(99)} << Swipes{right};
        QTest::newRow("x11 short pauses")
            << Scrolls{x11(40), x11(40, 0.199), x11(60, 0.199)} << Swipes{right};
        QTest::newRow("x11 pause after a swipe")
            << Scrolls{x11(60), x11(60, 0.2)} << Swipes{right, right};
        QTest::newRow("x11 pause forgets")
            << Scrolls{x11(30), x11(-30, 0.2), x11(0, 0.15, 30), x11(-20, 0.15)} << Swipes{left};
    }

    void oneSwipePerGestureAtInclusiveThreshold() {
        QFETCH(Scrolls, scrolls);
        QFETCH(Swipes, expected);
        QWindow window;
        TrackpadSwipeMonitor monitor(&clock);
        monitor.attach(&window, record());
        for (const Scroll& s : scrolls) {
            clock.advance(s.after);
            send(&window, s);
        }
        QCOMPARE(swipes, expected);
    }

    void attachAndDetach() {
        auto window = std::make_unique<QWindow>();
        QWindow second;
        TrackpadSwipeMonitor monitor(&clock);
        monitor.attach(window.get(), record());
        send(window.get(), {30, 0});
        // Attaching elsewhere starts again at zero and stops watching the first window.
        monitor.attach(&second, record());
        send(window.get(), {60, 0});
        send(&second, {30, 0});
        monitor.handle(window.get(), wheel({60, 0}));
        monitor.handle(nullptr, wheel({60, 0}));
        QVERIFY(swipes.isEmpty());
        // Events are observed, never consumed.
        QWheelEvent event = wheel({10});
        QVERIFY(!static_cast<QObject&>(monitor).eventFilter(&second, &event));

        // A handler may detach the monitor while it runs.
        monitor.setOnSwipe([&](SwipeDirection) { monitor.detach(); });
        send(&second, {30, 0});
        QVERIFY(!monitor.isAttached());

        // A watched window may go away first.
        monitor.attach(window.get(), record());
        window.reset();
        QVERIFY(monitor.window() == nullptr);
    }

    void itemFollowsItsWindow() {
        QQmlEngine engine;
        QQmlComponent component(&engine);
        component.setData("import QtQuick\nimport Velline.Input\n"
                          "Item { property int count: 0; property int last: -1\n"
                          "  property alias probe: probe\n"
                          "  TrackpadSwipe { id: probe\n"
                          "    onSwiped: direction => { count++; last = direction } } }",
                          QUrl());
        std::unique_ptr<QObject> root(component.create());
        QVERIFY2(root, qPrintable(component.errorString()));
        auto* card = qobject_cast<QQuickItem*>(root.get());
        auto* probe = root->property("probe").value<TrackpadSwipe*>();
        probe->monitor()->setClock(&clock);

        // Hidden or out of a window counts as gone; moving to another window follows it.
        QQuickWindow first, second;
        card->setParentItem(first.contentItem());
        card->setVisible(false);
        QVERIFY(!probe->isAttached());
        card->setVisible(true);
        send(&first, {0, 0, Qt::ScrollBegin});
        send(&first, {-55, 0});
        QCOMPARE(root->property("last").toInt(), int(SwipeDirection::left));
        card->setParentItem(second.contentItem());
        send(&first, {1, 0, Qt::ScrollBegin});
        send(&first, {80, 0});
        send(&second, {80, 0});
        QCOMPARE(root->property("count").toInt(), 2);
        QCOMPARE(root->property("last").toInt(), int(SwipeDirection::right));
        card->setParentItem(nullptr);
        QVERIFY(!probe->isAttached());
    }
};

QTEST_MAIN(TestTrackpadSwipe)
#include "tst_trackpadswipe.moc"
