// The spring curve against the physics it stands for: the damped harmonic oscillator
// x'' + 2ζωx' + ω²x = 0 with ω = 2π / response.
#include "notchlayer/notchanimation.h"

#include <QTest>

#include <cmath>
#include <numbers>

using velline::NotchAnimation;
using velline::NotchSpring;
using velline::NotchSprings;

class TestNotchSpring : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void solvesTheOscillatorEquation_data() {
        QTest::addColumn<double>("damping");
        QTest::addColumn<double>("x0");
        QTest::addColumn<double>("v0");
        for (double z : {0.7, 0.85, 1.0, 1.6}) {
            QTest::addRow("z=%g from rest", z) << z << 1.0 << 0.0;
            QTest::addRow("z=%g moving", z) << z << 0.3 << -2.0;
        }
    }
    void solvesTheOscillatorEquation() {
        QFETCH(double, damping);
        QFETCH(double, x0);
        QFETCH(double, v0);
        const NotchSpring s(0.4, damping);
        const double w = 2 * std::numbers::pi / 0.4;
        QCOMPARE(s.displacement(0, x0, v0), x0);
        QVERIFY(std::abs(s.velocity(0, x0, v0) - v0) < 1e-12);
        const double h = 1e-4;
        for (double t = 0.01; t < 1.0; t += 0.037) {
            const double x = s.displacement(t, x0, v0);
            const double xp = s.displacement(t + h, x0, v0);
            const double xm = s.displacement(t - h, x0, v0);
            const double dx = (xp - xm) / (2 * h);
            const double ddx = (xp - 2 * x + xm) / (h * h);
            QVERIFY2(std::abs(dx - s.velocity(t, x0, v0)) < 1e-3, qPrintable(QString::number(t)));
            const double residual = ddx + 2 * damping * w * dx + w * w * x;
            QVERIFY2(std::abs(residual) < 1e-3 * w * w, qPrintable(QString::number(residual)));
        }
    }

    // The equation with its starting point fixes the curve; near critical damping the two
    // closed forms must agree, and before the start the curve rests at 0. The settle time is
    // where it stays close; the easing curve is the spring in unit time, so the response
    // changes its duration only.
    void nearCriticalSettleTimeAndEasingCurve() {
        const NotchSpring critical(0.4, 1.0);
        QVERIFY(std::abs(NotchSpring(0.4, 0.999999).value(0.2) - critical.value(0.2)) < 1e-5);
        QCOMPARE(critical.value(-1), 0.0);
        const NotchSprings springs;
        for (double z : {0.7, 0.82, 0.85, 1.0, 1.6}) {
            const NotchSpring s(0.4, z);
            const double settle = s.settleTime();
            QVERIFY(std::abs(1 - s.value(settle - 1e-3)) > NotchSpring::kSettleTolerance * 0.99);
            for (double t = settle; t < settle + 3; t += 0.001)
                QVERIFY(std::abs(1 - s.value(t)) <= NotchSpring::kSettleTolerance + 1e-12);
            QVERIFY(std::abs(NotchSpring(0.8, z).settleTime() - 2 * settle) < 1e-9);

            const QEasingCurve curve = springs.easing(0.4, z);
            QCOMPARE(springs.duration(0.4, z), int(std::lround(settle * 1000)));
            for (double p = 0; p < 1; p += 0.01)
                QVERIFY(std::abs(curve.valueForProgress(p) - s.value(p * settle)) < 1e-9);
            QCOMPARE(curve.valueForProgress(1), 1.0);
        }
        QVERIFY(springs.easing(0.5, 0.7) == springs.easing(0.4, 0.7));
    }

    void nonsenseParametersStaySafe() {
        for (double response : {0.0, -1.0, qQNaN(), qInf()}) {
            const NotchSpring s(response, 0.8);
            QVERIFY(s.isInstant());
            QCOMPARE(s.value(0), 1.0);
            QCOMPARE(s.settleTime(), 0.0);
            QCOMPARE(NotchAnimation::spring(response, 0.8).durationMs(), 0);
        }
        QCOMPARE(NotchSpring(0.4, qQNaN()).dampingFraction(), 1.0);
        QCOMPARE(NotchSpring(0.4, -2).dampingFraction(), 0.0);
        // Undamped: it never settles, so the settling time is capped.
        QCOMPARE(NotchSpring(0.4, 0).settleTime(), NotchSpring::kMaxSettleTime);
        QCOMPARE(NotchAnimation::timingCurve(-1, QEasingCurve::Linear).durationMs(), 0);
    }
};

int runNotchSpringTests(int argc, char** argv) {
    TestNotchSpring test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_notchspring.moc"
