#pragma once

#include <QEasingCurve>
#include <QObject>
#include <QtQml/qqmlregistration.h>

#include <optional>

namespace velline {

// A damped harmonic oscillator pulled towards its target, described the way designers give
// springs: `response` is the period of the undamped oscillation in seconds (angular frequency
// 2π / response) and `dampingFraction` is the damping ratio (1 = critically damped, below 1
// overshoots, above 1 creeps in without overshoot). Every spring of the program uses this curve.
class NotchSpring {
public:
    // Defaults give a gentle, slightly bouncy motion.
    explicit NotchSpring(double response = 0.55, double dampingFraction = 0.825);

    double response() const { return m_response; }
    double dampingFraction() const { return m_damping; }
    double angularFrequency() const;
    // A zero, negative or non-finite response means "no animation": value() is 1 at once.
    bool isInstant() const { return m_response <= 0; }

    // Progress 0 → 1 of a move that starts at rest, `t` seconds after it started (1 for t past
    // the end of an instant spring, 0 for t < 0).
    double value(double t) const;
    // Displacement from the target and its rate of change, `t` seconds after the spring was
    // released with displacement `x0` and velocity `v0`.
    double displacement(double t, double x0, double v0) const;
    double velocity(double t, double x0, double v0) const;

    // Time after which the progress stays within `tolerance` of 1 (capped at kMaxSettleTime,
    // for springs that barely damp).
    double settleTime(double tolerance = kSettleTolerance) const;

    // The progress curve over [0, settleTime()] scaled to unit time and unit distance: a custom
    // easing curve that evaluates value() exactly (and ends at exactly 1).
    QEasingCurve easingCurve() const;

    static constexpr double kSettleTolerance = 1e-3;
    static constexpr double kMaxSettleTime = 10.0;

    bool operator==(const NotchSpring& o) const {
        return m_response == o.m_response && m_damping == o.m_damping;
    }

private:
    double m_response;
    double m_damping;
};

// How a change is animated: a spring, or a fixed duration with an easing curve. The views turn
// either into a duration and an easing curve for their property animations.
class NotchAnimation {
public:
    static NotchAnimation spring(double response, double dampingFraction) {
        return NotchAnimation(NotchSpring(response, dampingFraction));
    }
    static NotchAnimation timingCurve(double durationSeconds, const QEasingCurve& easing);
    // The standard ease-in and ease-out timing curves (cubic Béziers 0.42,0,1,1 and 0,0,0.58,1).
    static NotchAnimation easeIn(double durationSeconds);
    static NotchAnimation easeOut(double durationSeconds);
    static QEasingCurve easeInCurve();
    static QEasingCurve easeOutCurve();

    bool isSpring() const { return m_spring.has_value(); }
    std::optional<NotchSpring> springParameters() const { return m_spring; }
    // How long the animation runs, in seconds (a spring: until it settles).
    double duration() const;
    int durationMs() const;
    QEasingCurve easingCurve() const;

    bool operator==(const NotchAnimation& o) const {
        return m_spring == o.m_spring && m_duration == o.m_duration && m_easing == o.m_easing;
    }

private:
    explicit NotchAnimation(const NotchSpring& s) : m_spring(s) {}
    NotchAnimation(double duration, const QEasingCurve& easing)
        : m_duration(duration), m_easing(easing) {}

    std::optional<NotchSpring> m_spring;
    double m_duration = 0;
    QEasingCurve m_easing;
};

// QML access to the spring curve, for property animations:
//   NumberAnimation { duration: NotchSprings.duration(0.4, 0.85)
//                     easing: NotchSprings.easing(0.4, 0.85) }
class NotchSprings : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
public:
    using QObject::QObject;
    // Settling time in milliseconds.
    Q_INVOKABLE int duration(double response, double dampingFraction) const;
    Q_INVOKABLE QEasingCurve easing(double response, double dampingFraction) const;
    // Progress of the spring `t` seconds into a move from rest.
    Q_INVOKABLE double value(double response, double dampingFraction, double t) const;
};

} // namespace velline
