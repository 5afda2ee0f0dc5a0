#include "notchlayer/notchanimation.h"

#include <QPointF>

#include <algorithm>
#include <array>
#include <cmath>
#include <mutex>
#include <numbers>
#include <utility>

namespace velline {

namespace {

// Closer to 1 than this counts as critically damped (avoids dividing by a vanishing frequency).
constexpr double kCriticalBand = 1e-6;

} // namespace

NotchSpring::NotchSpring(double response, double dampingFraction)
    : m_response(std::isfinite(response) && response > 0 ? response : 0),
      m_damping(std::isfinite(dampingFraction) ? std::max(0.0, dampingFraction) : 1.0) {}

double NotchSpring::angularFrequency() const {
    return isInstant() ? 0 : 2 * std::numbers::pi / m_response;
}

double NotchSpring::displacement(double t, double x0, double v0) const {
    if (isInstant())
        return t < 0 ? x0 : 0;
    const double w = angularFrequency();
    const double z = m_damping;
    if (std::abs(z - 1) < kCriticalBand)
        return std::exp(-w * t) * (x0 + (v0 + w * x0) * t);
    if (z < 1) {
        const double wd = w * std::sqrt(1 - z * z);
        return std::exp(-z * w * t) *
               (x0 * std::cos(wd * t) + (v0 + z * w * x0) / wd * std::sin(wd * t));
    }
    const double root = std::sqrt(z * z - 1);
    const double r1 = -w * (z - root); // the slow mode
    const double r2 = -w * (z + root);
    const double c2 = (v0 - r1 * x0) / (r2 - r1);
    const double c1 = x0 - c2;
    return c1 * std::exp(r1 * t) + c2 * std::exp(r2 * t);
}

double NotchSpring::velocity(double t, double x0, double v0) const {
    if (isInstant())
        return 0;
    const double w = angularFrequency();
    const double z = m_damping;
    if (std::abs(z - 1) < kCriticalBand) {
        const double b = v0 + w * x0;
        return std::exp(-w * t) * (b - w * (x0 + b * t));
    }
    if (z < 1) {
        const double wd = w * std::sqrt(1 - z * z);
        const double b = (v0 + z * w * x0) / wd;
        const double c = std::cos(wd * t);
        const double s = std::sin(wd * t);
        return std::exp(-z * w * t) * ((-z * w) * (x0 * c + b * s) + (-x0 * wd * s + b * wd * c));
    }
    const double root = std::sqrt(z * z - 1);
    const double r1 = -w * (z - root);
    const double r2 = -w * (z + root);
    const double c2 = (v0 - r1 * x0) / (r2 - r1);
    const double c1 = x0 - c2;
    return c1 * r1 * std::exp(r1 * t) + c2 * r2 * std::exp(r2 * t);
}

double NotchSpring::value(double t) const {
    if (t <= 0)
        return isInstant() && t == 0 ? 1 : 0;
    return 1 - displacement(t, 1, 0);
}

double NotchSpring::settleTime(double tolerance) const {
    if (isInstant())
        return 0;
    const double tol = std::isfinite(tolerance) && tolerance > 0 ? tolerance : kSettleTolerance;
    const double w = angularFrequency();
    const double z = m_damping;

    // An upper bound past which the displacement can no longer exceed the tolerance, from the
    // envelope of each regime.
    double upper = kMaxSettleTime;
    if (std::abs(z - 1) < kCriticalBand) {
        // e^{-wt}(1 + wt) falls monotonically: bisect for it directly.
        double lo = 0;
        double hi = kMaxSettleTime;
        if (std::exp(-w * hi) * (1 + w * hi) > tol)
            return kMaxSettleTime;
        for (int i = 0; i < 100; ++i) {
            const double mid = (lo + hi) / 2;
            (std::exp(-w * mid) * (1 + w * mid) > tol ? lo : hi) = mid;
        }
        return hi;
    } else if (z < 1) {
        if (z > 0)
            upper = std::log(1 / (tol * std::sqrt(1 - z * z))) / (z * w);
    } else {
        const double root = std::sqrt(z * z - 1);
        const double r1 = -w * (z - root);
        const double r2 = -w * (z + root);
        const double c2 = (0 - r1) / (r2 - r1);
        const double c1 = 1 - c2;
        upper = std::log((std::abs(c1) + std::abs(c2)) / tol) / -r1;
    }
    upper = std::clamp(upper, 0.0, kMaxSettleTime);

    // The last moment the displacement is outside the tolerance lies before `upper`: scan
    // backwards on a grid fine enough to see every oscillation, then bisect the crossing.
    const double period = z < 1 ? 2 * std::numbers::pi / (w * std::sqrt(1 - z * z)) : upper;
    const double step = std::max(1e-6, std::min(upper / 512, period / 64));
    const auto outside = [&](double t) { return std::abs(displacement(t, 1, 0)) > tol; };
    double t = upper;
    while (t > 0 && !outside(t))
        t -= step;
    if (t <= 0)
        return 0;
    double lo = t;
    double hi = std::min(upper, t + step);
    for (int i = 0; i < 60; ++i) {
        const double mid = (lo + hi) / 2;
        (outside(mid) ? lo : hi) = mid;
    }
    return hi;
}

namespace {

// QEasingCurve takes a plain function pointer, so each damping fraction in use gets a slot of
// its own with a function that evaluates the exact curve for that slot. A program uses a
// handful of springs; past the last slot the nearest damping fraction is shared.
constexpr int kCurveSlots = 32;

struct CurveSlot {
    double damping = 0;
    double settle = 0; // of a spring with response 1
};

std::array<CurveSlot, kCurveSlots> g_slots;
int g_slotsUsed = 0;
std::mutex g_slotsMutex;

template <int I> qreal springProgress(qreal progress) {
    const CurveSlot& slot = g_slots[I];
    if (progress >= 1)
        return 1;
    return NotchSpring(1.0, slot.damping).value(progress * slot.settle);
}

template <int... I> constexpr auto makeProgressFunctions(std::integer_sequence<int, I...>) {
    return std::array<QEasingCurve::EasingFunction, sizeof...(I)>{&springProgress<I>...};
}

constexpr auto kProgressFunctions =
    makeProgressFunctions(std::make_integer_sequence<int, kCurveSlots>());

int slotFor(double damping) {
    const std::lock_guard lock(g_slotsMutex);
    int nearest = 0;
    for (int i = 0; i < g_slotsUsed; ++i) {
        if (g_slots[size_t(i)].damping == damping)
            return i;
        if (std::abs(g_slots[size_t(i)].damping - damping) <
            std::abs(g_slots[size_t(nearest)].damping - damping))
            nearest = i;
    }
    if (g_slotsUsed == kCurveSlots)
        return nearest;
    g_slots[size_t(g_slotsUsed)] = {damping, NotchSpring(1.0, damping).settleTime()};
    return g_slotsUsed++;
}

} // namespace

QEasingCurve NotchSpring::easingCurve() const {
    if (isInstant())
        return QEasingCurve(QEasingCurve::Linear);
    // Scaled to unit time the curve depends on the damping fraction alone.
    QEasingCurve curve;
    curve.setCustomType(kProgressFunctions[size_t(slotFor(m_damping))]);
    return curve;
}

NotchAnimation NotchAnimation::timingCurve(double durationSeconds, const QEasingCurve& easing) {
    const double d = std::isfinite(durationSeconds) ? std::max(0.0, durationSeconds) : 0.0;
    return NotchAnimation(d, easing);
}

QEasingCurve NotchAnimation::easeInCurve() {
    QEasingCurve c(QEasingCurve::BezierSpline);
    c.addCubicBezierSegment(QPointF(0.42, 0), QPointF(1, 1), QPointF(1, 1));
    return c;
}

QEasingCurve NotchAnimation::easeOutCurve() {
    QEasingCurve c(QEasingCurve::BezierSpline);
    c.addCubicBezierSegment(QPointF(0, 0), QPointF(0.58, 1), QPointF(1, 1));
    return c;
}

NotchAnimation NotchAnimation::easeIn(double durationSeconds) {
    return timingCurve(durationSeconds, easeInCurve());
}

NotchAnimation NotchAnimation::easeOut(double durationSeconds) {
    return timingCurve(durationSeconds, easeOutCurve());
}

double NotchAnimation::duration() const {
    return m_spring ? m_spring->settleTime() : m_duration;
}

int NotchAnimation::durationMs() const {
    return static_cast<int>(std::lround(duration() * 1000));
}

QEasingCurve NotchAnimation::easingCurve() const {
    return m_spring ? m_spring->easingCurve() : m_easing;
}

int NotchSprings::duration(double response, double dampingFraction) const {
    return NotchAnimation::spring(response, dampingFraction).durationMs();
}

QEasingCurve NotchSprings::easing(double response, double dampingFraction) const {
    return NotchSpring(response, dampingFraction).easingCurve();
}

double NotchSprings::value(double response, double dampingFraction, double t) const {
    return NotchSpring(response, dampingFraction).value(t);
}

} // namespace velline
