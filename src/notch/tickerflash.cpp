#include "notch/tickerflash.h"

#include "notch/notchclock.h"

#include <cmath>

namespace velline {

TickerFlash::TickerFlash(QObject* parent) : TickerFlash(notchClock(), parent) {}

TickerFlash::TickerFlash(Clock* clock, QObject* parent)
    : QObject(parent), m_clock(clock), m_theme(NotchTheme::select(ColorSchemePrefs{}, false)),
      m_ticker(
          this, MotionKind::swell, [this] { Q_EMIT frame(); }, [this] { return isMoving(); }) {
    connect(this, &TickerFlash::frame, this, &TickerFlash::moveTargets);
}

void TickerFlash::setScaleTarget(QQuickItem* item) {
    if (item == m_scaleTarget)
        return;
    m_scaleTarget = item;
    moveTargets();
    Q_EMIT targetsChanged();
}

void TickerFlash::setGlowTarget(QQuickItem* item) {
    if (item == m_glowTarget)
        return;
    m_glowTarget = item;
    moveTargets();
    Q_EMIT targetsChanged();
}

void TickerFlash::moveTargets() {
    if (m_scaleTarget)
        m_scaleTarget->setScale(scale());
    if (m_glowTarget) {
        const double g = glow();
        m_glowTarget->setOpacity(g * glowOpacity);
        m_glowTarget->setVisible(g > glowShownAbove);
    }
}

void TickerFlash::setValue(double value) {
    const std::optional<double> old = m_previous;
    m_value = value;
    m_hasValue = true;
    m_previous = value;
    Q_EMIT valueChanged();
    if (!m_active || !old || !(std::abs(value - *old) > threshold))
        return;
    const Stock::Direction direction = value > *old ? Stock::Direction::up : Stock::Direction::down;
    if (direction != m_direction) {
        m_direction = direction;
        Q_EMIT colorChanged();
    }
    flash();
}

void TickerFlash::setTheme(const NotchTheme& theme) {
    if (theme == m_theme)
        return;
    m_theme = theme;
    Q_EMIT colorChanged();
}

void TickerFlash::setIsActive(bool active) {
    if (active == m_active)
        return;
    m_active = active;
    Q_EMIT isActiveChanged();
}

void TickerFlash::appear() {
    m_previous = m_hasValue ? std::optional<double>(m_value) : std::nullopt;
    // Pending steps of an earlier flash belong to the view's previous time on screen.
    m_generation = std::make_shared<int>(0);
    m_scale.set(1.0);
    m_glow.set(0.0);
    m_ticker.stop();
    Q_EMIT frame();
}

void TickerFlash::flash() {
    const double now = m_clock->now();
    m_scale.animateTo(peakScale, now, riseTime, TimingCurve::easeOut);
    m_glow.animateTo(1.0, now, riseTime, TimingCurve::easeOut);
    std::weak_ptr<int> generation = m_generation;
    m_clock->schedule(riseTime, this, [this, generation] {
        if (generation.expired())
            return;
        const double t = m_clock->now();
        m_scale.animateTo(1.0, t, fallTime, TimingCurve::easeInOut);
        m_glow.animateTo(0.0, t, fallTime, TimingCurve::easeInOut);
        m_ticker.start(m_clock);
        // The peak gets a frame of its own, whatever the frame rate.
        Q_EMIT frame();
    });
    m_ticker.start(m_clock);
    Q_EMIT flashed();
    Q_EMIT frame();
}

bool TickerFlash::isMoving() const {
    const double now = m_clock->now();
    return m_scale.isMovingAt(now) || m_glow.isMovingAt(now);
}

double TickerFlash::scale() const {
    return std::round(m_scale.valueAt(m_clock->now()) / scaleStep) * scaleStep;
}

double TickerFlash::glow() const {
    return m_glow.valueAt(m_clock->now());
}

QColor TickerFlash::color() const {
    switch (m_direction) {
    case Stock::Direction::up:
        return toQColor(m_theme.mutedPositive);
    case Stock::Direction::down:
        return toQColor(m_theme.mutedNegative);
    case Stock::Direction::flat:
        break;
    }
    return NotchPalette::textPrimary();
}

} // namespace velline
