#include "notch/colorfade.h"

#include "notch/notchclock.h"

#include <QEasingCurve>
#include <QVariantAnimation>

#include <algorithm>

namespace velline {

namespace {

// The toolkit's own colour interpolation (the one its colour animations use).
class ColorInterpolation final : public QVariantAnimation {
public:
    // Colour end points pick the interpolation of colours.
    ColorInterpolation() {
        setStartValue(QColor(Qt::black));
        setEndValue(QColor(Qt::white));
    }
    QColor at(const QColor& from, const QColor& to, double progress) const {
        return interpolated(from, to, progress).value<QColor>();
    }
};

} // namespace

ColorFade::ColorFade(QObject* parent) : ColorFade(notchClock(), parent) {}

ColorFade::ColorFade(Clock* clock, QObject* parent)
    : QObject(parent), m_clock(clock), m_ticker(
                                           this, MotionKind::fade, [this] { step(); },
                                           [this] { return isFadingAt(m_clock->now()); }) {}

QColor ColorFade::colorAt(const QColor& from, const QColor& to, double progress) {
    static const ColorInterpolation interpolation;
    static const QEasingCurve curve(QEasingCurve::InOutQuad);
    const double p = std::clamp(progress, 0.0, 1.0);
    if (p >= 1)
        return to;
    return interpolation.at(from, to, curve.valueForProgress(p));
}

void ColorFade::setTarget(const QColor& target) {
    if (target == m_target && (isFading() || m_color == target))
        return;
    const bool first = !m_target.isValid() && !m_color.isValid();
    m_target = target;
    Q_EMIT targetChanged();
    if (first || !m_built || !m_enabled || m_duration <= 0) {
        m_ticker.stop();
        show(target);
        return;
    }
    // A fade started mid-way starts from the colour on screen.
    m_from = m_color;
    m_start = m_clock->now();
    m_ticker.start(m_clock);
}

void ColorFade::setDuration(int ms) {
    if (ms == m_duration)
        return;
    m_duration = ms;
    Q_EMIT durationChanged();
}

void ColorFade::setEnabled(bool enabled) {
    if (enabled == m_enabled)
        return;
    m_enabled = enabled;
    Q_EMIT enabledChanged();
}

bool ColorFade::isFadingAt(double now) const {
    return now < m_start + m_duration / 1000.0;
}

void ColorFade::step() {
    const double now = m_clock->now();
    // The last frame lands on the target, whatever rounding says of the time.
    show(isFadingAt(now) ? colorAt(m_from, m_target, (now - m_start) * 1000.0 / m_duration)
                         : m_target);
}

void ColorFade::show(const QColor& color) {
    if (color == m_color)
        return;
    m_color = color;
    Q_EMIT colorChanged();
}

} // namespace velline
