#include "notch/alertpulse.h"

#include "notch/notchclock.h"

namespace velline {

namespace {
QColor amber() {
    return QColor::fromRgbF(1.0f, 0.85f, 0.45f);
}
} // namespace

AlertPulse::AlertPulse(QObject* parent) : AlertPulse(notchClock(), parent) {}

AlertPulse::AlertPulse(Clock* clock, QObject* parent)
    : QObject(parent), m_clock(clock), m_theme(NotchTheme::select(ColorSchemePrefs{}, false)),
      m_ticker(
          this, MotionKind::swell, [this] { Q_EMIT frame(); }, [this] { return isMoving(); }) {}

QVariant AlertPulse::eventValue() const {
    return m_event ? QVariant::fromValue(*m_event) : QVariant();
}

void AlertPulse::setEventValue(const QVariant& value) {
    if (value.metaType() == QMetaType::fromType<AlertEvent>())
        setEvent(value.value<AlertEvent>());
    else
        setEvent(std::nullopt);
}

void AlertPulse::setEvent(const std::optional<AlertEvent>& event) {
    const bool colourMoves = event.has_value() != m_event.has_value() ||
                             (event && m_event && event->direction != m_event->direction);
    m_event = event;
    Q_EMIT eventChanged();
    if (colourMoves)
        Q_EMIT colorChanged();
    checkSoon();
}

QVariant AlertPulse::activeSymbolValue() const {
    return m_activeSymbol ? QVariant(*m_activeSymbol) : QVariant();
}

void AlertPulse::setActiveSymbolValue(const QVariant& value) {
    if (value.isNull() || !value.isValid())
        setActiveSymbol(std::nullopt);
    else
        setActiveSymbol(value.toString());
}

void AlertPulse::setActiveSymbol(const std::optional<QString>& symbol) {
    if (symbol == m_activeSymbol)
        return;
    m_activeSymbol = symbol;
    Q_EMIT activeSymbolChanged();
}

void AlertPulse::setTheme(const NotchTheme& theme) {
    if (theme == m_theme)
        return;
    m_theme = theme;
    Q_EMIT colorChanged();
}

void AlertPulse::checkSoon() {
    if (m_check.isPending())
        return;
    m_check = m_clock->schedule(0, this, [this] {
        if (shouldPulse(false))
            start();
    });
}

bool AlertPulse::shouldPulse(bool onAppear) const {
    if (!m_event || !m_activeSymbol || *m_activeSymbol != m_event->symbol)
        return false;
    if (m_lastHandled && *m_lastHandled == m_event->id)
        return false;
    return !onAppear || m_clock->now() - m_event->timestamp < maxAgeOnAppear;
}

void AlertPulse::appear() {
    m_lastHandled.reset();
    m_generation = std::make_shared<int>(0);
    m_check.cancel();
    m_scale.set(1.0);
    m_glow.set(0.0);
    m_ticker.stop();
    Q_EMIT frame();
    if (shouldPulse(true))
        start();
}

void AlertPulse::start() {
    m_lastHandled = m_event->id;
    Q_EMIT pulsed();
    // Each pulse runs to its end; a second one started meanwhile moves the same values.
    runStep(0, true, m_generation);
}

void AlertPulse::runStep(std::size_t index, bool rising, const std::weak_ptr<int>& generation) {
    if (generation.expired() || index >= pulseSteps.size())
        return;
    const PulseStep& step = pulseSteps[index];
    const double now = m_clock->now();
    double wait = 0;
    if (rising) {
        m_scale.animateTo(step.peakScale, now, step.attack, TimingCurve::easeOut);
        m_glow.animateTo(step.peakGlow, now, step.attack, TimingCurve::easeOut);
        wait = step.attack;
    } else {
        m_scale.animateTo(1.0, now, step.release, TimingCurve::easeInOut);
        m_glow.animateTo(0.0, now, step.release, TimingCurve::easeInOut);
        wait = step.release * 0.6;
    }
    m_ticker.start(m_clock);
    Q_EMIT frame();
    const std::size_t next = rising ? index : index + 1;
    m_clock->schedule(wait, this,
                      [this, next, rising, generation] { runStep(next, !rising, generation); });
}

bool AlertPulse::isMoving() const {
    const double now = m_clock->now();
    return m_scale.isMovingAt(now) || m_glow.isMovingAt(now);
}

double AlertPulse::scale() const {
    return m_scale.valueAt(m_clock->now());
}

double AlertPulse::glow() const {
    return m_glow.valueAt(m_clock->now());
}

QColor AlertPulse::color() const {
    if (!m_event)
        return Qt::white;
    switch (m_event->direction) {
    case Stock::Direction::up:
        return toQColor(m_theme.spikePositive);
    case Stock::Direction::down:
        return toQColor(m_theme.spikeNegative);
    case Stock::Direction::flat:
        break;
    }
    return amber();
}

} // namespace velline
