#include "clock/manualclock.h"

#include <QTest>
#include <QVariantAnimation>

using velline::Clock;
using velline::FrameTimer;
using velline::ManualClock;
using velline::RepeatingTimer;

class TestClock : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void runsJobsInDueOrderUnlessCancelledOrOrphaned() {
        ManualClock clock(100);
        QObject ctx;
        QList<QPair<int, double>> seen;
        clock.schedule(2, &ctx, [&] { seen.append({2, clock.now()}); });
        clock.schedule(1, &ctx, [&] { seen.append({1, clock.now()}); });
        clock.schedule(1, &ctx, [&] { seen.append({11, clock.now()}); });
        auto cancelled = clock.schedule(1, &ctx, [&] { seen.append({-1, clock.now()}); });
        auto orphan = std::make_unique<QObject>();
        clock.schedule(1, orphan.get(), [&] { seen.append({-2, clock.now()}); });
        cancelled.cancel();
        orphan.reset();
        QCOMPARE(clock.pendingCount(), 3);
        clock.advance(1.5);
        QCOMPARE(seen, (QList<QPair<int, double>>{{1, 101.0}, {11, 101.0}}));
        clock.advance(0.5);
        QCOMPARE(seen, (QList<QPair<int, double>>{{1, 101.0}, {11, 101.0}, {2, 102.0}}));
        QCOMPARE(clock.pendingCount(), 0);

        // Jobs scheduled by jobs run inside the same advance.
        QList<double> at;
        std::function<void()> chain = [&] {
            at.append(clock.now());
            if (at.size() < 3)
                clock.schedule(0.4, &ctx, chain);
        };
        clock.setNow(0);
        clock.schedule(0.4, &ctx, chain);
        clock.advance(1.0);
        QCOMPARE(at, (QList<double>{0.4, 0.8}));
        clock.advance(0.2);
        QCOMPARE(at.size(), 3);
    }

    void repeatingTicksKeepAFixedScheduleAndSkipWhatWasMissed() {
        ManualClock clock(0);
        QObject ctx;
        QList<double> at;
        // Each tick takes a while (the clock moves on inside it); the schedule does not drift.
        RepeatingTimer timer(&clock, 2.0, &ctx, [&] {
            at.append(clock.now());
            clock.setNow(clock.now() + 0.3);
        });
        {
            RepeatingTimer dropped(&clock, 1.0, &ctx, [&] { at.append(-1); });
        }
        clock.advanceTo(8.5);
        QCOMPARE(at, (QList<double>{2, 4, 6, 8}));
        // Busy for five seconds inside a tick: the ticks due meanwhile are dropped, not
        // bunched, and the next one keeps to the old grid.
        at.clear();
        clock.schedule(0.5, &ctx, [&] { clock.setNow(14.2); }); // runs at 9, blocks until 14.2
        clock.advanceTo(14.2);
        QCOMPARE(at, (QList<double>{14.2})); // the tick due at 10, once, late
        clock.advanceTo(18);
        QCOMPARE(at, (QList<double>{14.2, 16, 18})); // 12 and 14 skipped
        // Lateness of a real timer is absorbed: a tick that fires late books the next one
        // on time (due at 20, fired at 20.4: next due at 22, not 22.4).
        at.clear();
        clock.setNow(20.4);
        clock.runDue();
        clock.advanceTo(21.999);
        QCOMPARE(at, (QList<double>{20.4}));
        clock.advanceTo(22);
        QCOMPARE(at, (QList<double>{20.4, 22}));
        // The wall clock set back: the next tick still comes once, about a period later.
        clock.setNow(0);
        clock.advanceTo(24);
        QCOMPARE(at, (QList<double>{20.4, 22, 24}));
        timer.stop();
        clock.advance(10);
        QCOMPARE(at.size(), 3);
    }

    // Frame timers of a clock share one timer at the fastest period running: a slow one
    // beside a fast one ticks only on the fast one's ticks, and once the fast one is gone the
    // shared timer slows down to the slow one's period instead of waking for nothing.
    void frameTimersShareOneTimerAtTheFastestRateRunning() {
        ManualClock clock(0);
        QObject ctx;
        QList<double> slow, fast;
        std::unique_ptr<FrameTimer> fastTimer;
        const auto slowTimer = clock.frameTimer(
            &ctx,
            [&] {
                slow.append(clock.now());
                // Started from inside a tick of the shared timer, which it then replaces.
                if (slow.size() == 2 && !fastTimer)
                    fastTimer = clock.frameTimer(&ctx, [&] { fast.append(clock.now()); });
            },
            1.0 / 20);
        clock.advance(0.1001);
        QCOMPARE(slow.size(), 2);
        QCOMPARE(clock.pendingCount(), 1);
        clock.advance(0.4);
        QVERIFY(fast.size() >= 23 && fast.size() <= 25);
        QCOMPARE(clock.pendingCount(), 1); // one timer for both
        for (double t : slow.mid(2))
            QVERIFY2(fast.contains(t), qPrintable(QString::number(t)));
        // About twenty a second still: every third tick of sixty.
        QVERIFY(slow.size() >= 9 && slow.size() <= 11);

        fastTimer->stop();
        const double stopped = clock.now();
        slow.clear();
        clock.advance(0.5);
        QVERIFY(slow.size() >= 9 && slow.size() <= 10);
        QCOMPARE(clock.pendingCount(), 1);
        for (qsizetype i = 1; i < slow.size(); ++i)
            QVERIFY(std::abs(slow[i] - slow[i - 1] - 0.05) < 1e-3);
        QVERIFY(slow.first() - stopped <= 0.05 + 1e-3);
        QVERIFY(clock.nextDue() - slow.last() > 0.05 - 1e-3); // no tick in between

        slowTimer->stop();
        QVERIFY(!slowTimer->isActive());
        QCOMPARE(clock.pendingCount(), 0);
        // Gone with its context, and the shared timer with it.
        auto context = std::make_unique<QObject>();
        const auto orphan = clock.frameTimer(context.get(), [] {});
        QVERIFY(orphan->isActive());
        context.reset();
        QVERIFY(!orphan->isActive());
        clock.advance(0.1);
        QCOMPARE(clock.pendingCount(), 0);
    }

    // The real frame timer steps in the same pass of the animation timer as every other
    // animation, so together they ask for one frame, not one each.
    void systemFrameTimerTicksWithTheAnimations() {
        QObject ctx;
        QVariantAnimation animation;
        animation.setStartValue(0.0);
        animation.setEndValue(1.0);
        animation.setDuration(300);
        int animationSteps = 0;
        int ticks = 0;
        int ticksOutOfStep = 0;
        connect(&animation, &QVariantAnimation::valueChanged, &ctx, [&] { ++animationSteps; });
        int stepsAtLastTick = -1;
        const auto timer = Clock::system()->frameTimer(&ctx, [&] {
            ++ticks;
            // Each tick comes in a pass in which the animation stepped too.
            if (animation.state() == QAbstractAnimation::Running &&
                animationSteps == stepsAtLastTick)
                ++ticksOutOfStep;
            stepsAtLastTick = animationSteps;
        });
        QCOMPARE(ticks, 0); // the first tick belongs to the next frame
        bool fired = false; // plain jobs on the system clock run on the same event loop
        Clock::system()->schedule(0.01, &ctx, [&] { fired = true; });
        animation.start();
        QTRY_VERIFY_WITH_TIMEOUT(animation.state() == QAbstractAnimation::Stopped, 3000);
        QVERIFY(fired);
        QVERIFY(ticks > 5);
        QVERIFY2(ticksOutOfStep <= 1, qPrintable(QString::number(ticksOutOfStep)));
        QVERIFY(timer->isActive());

        // Gone with its context.
        auto* context = new QObject;
        int orphanTicks = 0;
        std::unique_ptr<FrameTimer> orphan =
            Clock::system()->frameTimer(context, [&] { ++orphanTicks; });
        QTRY_VERIFY(orphanTicks > 0);
        delete context;
        QTRY_VERIFY(!orphan->isActive());
    }
};

QTEST_GUILESS_MAIN(TestClock)
#include "tst_clock.moc"
