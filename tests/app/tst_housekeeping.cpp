#include "app/memoryhousekeeping.h"
#include "clock/manualclock.h"

#include <QJSEngine>
#include <QPointer>
#include <QtTest>

using namespace velline;

class TestHousekeeping : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Script garbage is collected once a period, on the clock, without waiting for the
    // engine's own heap to fill.
    void collectsScriptGarbageOncePerPeriod() {
        ManualClock clock(1000);
        QJSEngine engine;
        MemoryHousekeeping housekeeping(&clock, &engine, 60);

        auto* dropped = new QObject;
        QPointer<QObject> watch(dropped);
        // Owned by the script engine, referenced by nothing.
        engine.newQObject(dropped);
        QJSEngine::setObjectOwnership(dropped, QJSEngine::JavaScriptOwnership);

        clock.advance(59.999);
        QCOMPARE(housekeeping.rounds(), 0);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(watch);

        clock.advance(0.001);
        QCOMPARE(housekeeping.rounds(), 1);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!watch);

        clock.advance(120);
        QCOMPARE(housekeeping.rounds(), 3);
    }

    void survivesItsEngine() {
        ManualClock clock(0);
        auto engine = std::make_unique<QJSEngine>();
        MemoryHousekeeping housekeeping(&clock, engine.get(), 1);
        engine.reset();
        clock.advance(1);
        QCOMPARE(housekeeping.rounds(), 1);
#if defined(__GLIBC__)
        QVERIFY(MemoryHousekeeping::releaseFreeHeap());
#endif
    }
};

int runHousekeepingTests(int argc, char** argv) {
    TestHousekeeping test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_housekeeping.moc"
