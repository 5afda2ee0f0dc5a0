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

// A scroll of (dx, dy) pixels.
QWheelEvent wheel(double dx, double dy, Qt::ScrollPhase phase = Qt::ScrollUpdate,
                  Source source = Source::pixels) {
    const QPoint pixels(qRound(dx), qRound(dy));
    const QPoint angle(qRound(dx * 8), qRound(dy * 8));
    const bool usePixels = source == Source::pixels;
    return QWheelEvent(QPointF(10, 10), QPointF(10, 10), usePixels ? pixels : QPoint(),
                       usePixels ? QPoint() : angle, Qt::NoButton, Qt::NoModifier, phase, false,
                       Qt::MouseEventNotSynthesized, device(source != Source::mouseWheel));
}

void send(QWindow* window, QWheelEvent event) {
    QCoreApplication::sendEvent(window, &event);
}

} // namespace

class TestTrackpadSwipe : public QObject {
    Q_OBJECT

private:
    ManualClock clock;
    QList<SwipeDirection> swipes;
    TrackpadSwipeMonitor::Handler record() {
        return [this](SwipeDirection d) { swipes.append(d); };
    }

private Q_SLOTS:
    void init() { swipes.clear(); }

    void oneSwipePerGestureAtInclusiveThreshold() {
        QWindow window;
        TrackpadSwipeMonitor monitor(&clock);
        monitor.attach(&window, record());

        send(&window, wheel(0, 0, Qt::ScrollBegin));
        send(&window, wheel(20, 0));
        send(&window, wheel(20, 0));
        QVERIFY(swipes.isEmpty());
        send(&window, wheel(15, 0));
        QCOMPARE(swipes, QList<SwipeDirection>{SwipeDirection::right});
        send(&window, wheel(100, 0));
        send(&window, wheel(-300, 0));
        QCOMPARE(swipes.size(), 1);

        // A mostly horizontal end resets; exactly -50 then swipes left.
        send(&window, wheel(1, 0, Qt::ScrollEnd));
        QCOMPARE(monitor.accumulatedDeltaX(), 0.0);
        send(&window, wheel(-25, 0));
        send(&window, wheel(-25, 0));
        QCOMPARE(swipes, (QList<SwipeDirection>{SwipeDirection::right, SwipeDirection::left}));

        // Exactly +50 in one event is a swipe too; 49 is not.
        for (double dx : {49.0, 50.0}) {
            send(&window, wheel(1, 0, Qt::ScrollBegin));
            send(&window, wheel(dx, 0));
        }
        QCOMPARE(swipes.size(), 3);
        QCOMPARE(swipes.last(), SwipeDirection::right);
    }

    void onlyPreciseHorizontalEventsForTheWatchedWindowCount() {
        QWindow window, other;
        TrackpadSwipeMonitor monitor(&clock);
        monitor.attach(&window, record());

        // Diagonal and vertical movement, a classic wheel with a horizontal tilt, another window
        // of the program and momentum after the fingers lift never add distance.
        for (int i = 0; i < 10; ++i) {
            send(&window, wheel(30, 30));
            send(&window, wheel(-30, -40));
            send(&window, wheel(40, 0, Qt::NoScrollPhase, Source::mouseWheel));
            send(&other, wheel(40, 0));
            send(&window, wheel(200, 0, Qt::ScrollMomentum));
        }
        QCOMPARE(monitor.accumulatedDeltaX(), 0.0);
        monitor.handle(&other, wheel(60, 0));
        monitor.handle(nullptr, wheel(60, 0));
        QVERIFY(swipes.isEmpty());

        // The X11 path: a touchpad without phases, angle deltas read as angle / 8 pixels.
        send(&window, wheel(-30, 0, Qt::NoScrollPhase, Source::touchpadAngle));
        QCOMPARE(monitor.accumulatedDeltaX(), -30.0);
        send(&window, wheel(-20, 0, Qt::NoScrollPhase, Source::touchpadAngle));
        QCOMPARE(swipes, QList<SwipeDirection>{SwipeDirection::left});

        // Events are observed, never consumed.
        QWheelEvent event = wheel(10, 0);
        event.setAccepted(false);
        QVERIFY(!static_cast<QObject&>(monitor).eventFilter(&window, &event));
    }

    void gestureResets() {
        QWindow window;
        TrackpadSwipeMonitor monitor(&clock);
        monitor.attach(&window, record());

        send(&window, wheel(60, 0));
        QCOMPARE(swipes.size(), 1);
        // Begin/end without horizontal movement does not reset the fired gesture.
        send(&window, wheel(0, 0, Qt::ScrollBegin));
        send(&window, wheel(0, 5, Qt::ScrollEnd));
        send(&window, wheel(60, 0));
        QCOMPARE(swipes.size(), 1);
        QVERIFY(monitor.didFireThisGesture());
        send(&window, wheel(-2, 1, Qt::ScrollBegin));
        QVERIFY(!monitor.didFireThisGesture());
        send(&window, wheel(60, 0));
        QCOMPARE(swipes.size(), 2);

        // Without phases, a pause of 200 ms ends the gesture; a shorter one does not.
        const auto x11 = [&](double dx) {
            send(&window, wheel(dx, 0, Qt::NoScrollPhase, Source::touchpadAngle));
        };
        monitor.detach();
        monitor.attach(&window, record());
        swipes.clear();
        x11(40);
        clock.advance(0.199);
        x11(40);
        QCOMPARE(swipes.size(), 1);
        clock.advance(0.199);
        x11(40);
        QCOMPARE(swipes.size(), 1);
        clock.advance(0.2);
        x11(30);
        QCOMPARE(monitor.accumulatedDeltaX(), 30.0);
        clock.advance(0.2);
        x11(-30); // a new gesture: the +30 is forgotten
        QCOMPARE(monitor.accumulatedDeltaX(), -30.0);
        // A vertical event keeps the gesture alive but adds nothing.
        clock.advance(0.15);
        send(&window, wheel(0, 30, Qt::NoScrollPhase, Source::touchpadAngle));
        clock.advance(0.15);
        x11(-20);
        QCOMPARE(swipes.size(), 2);
        QCOMPARE(swipes.last(), SwipeDirection::left);
    }

    void attachDetachAndHandlerReplacement() {
        auto window = std::make_unique<QWindow>();
        QWindow second;
        TrackpadSwipeMonitor monitor(&clock);
        monitor.attach(window.get(), record());
        send(window.get(), wheel(30, 0));

        // Re-attaching (even to the same window) starts again at zero.
        monitor.attach(window.get(), record());
        send(window.get(), wheel(30, 0));
        QVERIFY(swipes.isEmpty());

        // Moving to another window stops watching the first.
        monitor.attach(&second, record());
        send(window.get(), wheel(60, 0));
        QVERIFY(swipes.isEmpty());
        send(&second, wheel(60, 0));
        QCOMPARE(swipes.size(), 1);

        // A handler may detach the monitor while it runs.
        monitor.setOnSwipe([&](SwipeDirection) { monitor.detach(); });
        send(&second, wheel(10, 0, Qt::ScrollBegin));
        send(&second, wheel(60, 0));
        QVERIFY(!monitor.isAttached());
        QCOMPARE(monitor.accumulatedDeltaX(), 0.0);

        // Windows and monitors may go away in either order.
        monitor.attach(window.get(), record());
        window.reset();
        QVERIFY(monitor.window() == nullptr);
        {
            TrackpadSwipeMonitor shortLived(&clock);
            shortLived.attach(&second, record());
        }
        send(&second, wheel(60, 0));
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

        QQuickWindow first, second;
        QSignalSpy attachedSpy(probe, &TrackpadSwipe::attachedChanged);
        card->setParentItem(first.contentItem());
        QVERIFY(probe->isAttached());
        QCOMPARE(probe->monitor()->window(), &first);
        send(&first, wheel(0, 0, Qt::ScrollBegin));
        send(&first, wheel(-55, 0));
        QCOMPARE(root->property("count").toInt(), 1);
        QCOMPARE(root->property("last").toInt(), int(SwipeDirection::left));

        // Leaving the window detaches; coming back starts from zero.
        send(&first, wheel(1, 0, Qt::ScrollBegin));
        send(&first, wheel(30, 0));
        card->setParentItem(nullptr);
        QVERIFY(!probe->isAttached());
        send(&first, wheel(60, 0));
        card->setParentItem(first.contentItem());
        send(&first, wheel(30, 0));
        QCOMPARE(root->property("count").toInt(), 1);
        QCOMPARE(attachedSpy.count(), 3);

        // Hidden counts as gone; moving to another window follows it.
        card->setVisible(false);
        QVERIFY(!probe->isAttached());
        card->setVisible(true);
        card->setParentItem(second.contentItem());
        send(&first, wheel(80, 0));
        send(&second, wheel(80, 0));
        QCOMPARE(root->property("count").toInt(), 2);
        QCOMPARE(root->property("last").toInt(), int(SwipeDirection::right));

        // The item dies with its card and the window stops being watched.
        root.reset();
        send(&second, wheel(1, 0, Qt::ScrollBegin));
        send(&second, wheel(80, 0));
    }
};

QTEST_MAIN(TestTrackpadSwipe)
#include "tst_trackpadswipe.moc"
