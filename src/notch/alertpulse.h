#pragma once

#include "clock/clock.h"
#include "notch/motion.h"
#include "notch/notchtheme.h"
#include "state/alertevent.h"

#include <QColor>
#include <QObject>
#include <QQmlParserStatus>
#include <QUuid>
#include <QVariant>
#include <QtQmlIntegration/qqmlintegration.h>

#include <array>
#include <optional>

namespace velline {

// One beat of the alert pulse: rise to the peak over `attack` seconds, then settle over
// `release` seconds.
struct PulseStep {
    double attack;
    double peakScale;
    double peakGlow;
    double release;
};

inline constexpr std::array<PulseStep, 3> pulseSteps{{
    {0.16, 1.08, 0.95, 0.32},
    {0.14, 1.05, 0.65, 0.40},
    {0.16, 1.03, 0.35, 0.85},
}};

// Makes a whole notch view beat three times with a growing and fading glow when an alert for
// the symbol it shows arrives. Each event pulses once. A view that comes on screen (appear())
// while an event is still being shown pulses only if that event is less than 2 s old.
//   AlertPulse { event: AppState.alertEvent; activeSymbol: AppState.activeSymbol; theme: ... }
// Bind the content's scale to `scale` and the glows' opacities to `glow` × 0.95 and × 0.55.
class AlertPulse : public QObject, public QQmlParserStatus {
    Q_OBJECT
    QML_ELEMENT
    Q_INTERFACES(QQmlParserStatus)
    // An AlertEvent or null.
    Q_PROPERTY(QVariant event READ eventValue WRITE setEventValue NOTIFY eventChanged)
    // A symbol text or null.
    Q_PROPERTY(QVariant activeSymbol READ activeSymbolValue WRITE setActiveSymbolValue NOTIFY
                   activeSymbolChanged)
    Q_PROPERTY(velline::NotchTheme theme READ theme WRITE setTheme NOTIFY colorChanged)
    Q_PROPERTY(double scale READ scale NOTIFY frame)
    Q_PROPERTY(double glow READ glow NOTIFY frame)
    Q_PROPERTY(QColor color READ color NOTIFY colorChanged)

public:
    // An event older than this when the view comes on screen stays still.
    static constexpr double maxAgeOnAppear = 2.0;

    explicit AlertPulse(QObject* parent = nullptr);
    AlertPulse(Clock* clock, QObject* parent);

    QVariant eventValue() const;
    void setEventValue(const QVariant& value);
    void setEvent(const std::optional<AlertEvent>& event);
    QVariant activeSymbolValue() const;
    void setActiveSymbolValue(const QVariant& value);
    void setActiveSymbol(const std::optional<QString>& symbol);
    NotchTheme theme() const { return m_theme; }
    void setTheme(const NotchTheme& theme);

    // The view came on screen: state starts afresh, and a young event for the symbol pulses.
    Q_INVOKABLE void appear();

    double scale() const;
    double glow() const;
    // White without an event; else the theme's loud up or down colour, amber for a flat move.
    QColor color() const;
    std::optional<QUuid> lastHandledEventID() const { return m_lastHandled; }

    void classBegin() override {}
    void componentComplete() override { appear(); }

Q_SIGNALS:
    void eventChanged();
    void activeSymbolChanged();
    void colorChanged();
    void frame();
    // A pulse started.
    void pulsed();

private:
    // Runs the trigger test once the current round of state changes is over, so an event and
    // the jump to its symbol are seen together.
    void checkSoon();
    bool shouldPulse(bool onAppear) const;
    void start();
    void runStep(std::size_t index, bool rising, const std::weak_ptr<int>& generation);
    bool isMoving() const;

    Clock* m_clock;
    std::optional<AlertEvent> m_event;
    std::optional<QString> m_activeSymbol;
    NotchTheme m_theme;
    std::optional<QUuid> m_lastHandled;
    AnimatedValue m_scale{1.0};
    AnimatedValue m_glow{0.0};
    FrameTicker m_ticker;
    ScheduledTask m_check;
    std::shared_ptr<int> m_generation = std::make_shared<int>(0);
};

} // namespace velline
