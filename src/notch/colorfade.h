#pragma once

#include "clock/clock.h"
#include "notch/motion.h"

#include <QColor>
#include <QObject>
#include <QQmlParserStatus>
#include <QtQmlIntegration/qqmlintegration.h>

namespace velline {

// A colour that fades to each new target instead of jumping, at the frame rate of a fade
// (framePeriod(MotionKind::fade)) rather than the display's: bind the item's colour to `color`.
//   ColorFade { id: tint; target: model.arrowColor }
//   SymbolImage { color: tint.color }
// The value the target has when the object is built, and every change while `enabled` is off,
// is taken at once. The fade runs over `duration` milliseconds on the quadratic ease-in-out
// curve, through the same colours as the toolkit's colour animation.
class ColorFade : public QObject, public QQmlParserStatus {
    Q_OBJECT
    QML_ELEMENT
    Q_INTERFACES(QQmlParserStatus)
    Q_PROPERTY(QColor target READ target WRITE setTarget NOTIFY targetChanged)
    Q_PROPERTY(QColor color READ color NOTIFY colorChanged)
    Q_PROPERTY(int duration READ duration WRITE setDuration NOTIFY durationChanged)
    Q_PROPERTY(bool enabled READ isEnabled WRITE setEnabled NOTIFY enabledChanged)

public:
    explicit ColorFade(QObject* parent = nullptr);
    ColorFade(Clock* clock, QObject* parent);

    QColor target() const { return m_target; }
    void setTarget(const QColor& target);
    QColor color() const { return m_color; }
    int duration() const { return m_duration; }
    void setDuration(int ms);
    bool isEnabled() const { return m_enabled; }
    void setEnabled(bool enabled);
    bool isFading() const { return m_ticker.isRunning(); }

    // The colour a fade from `from` to `to` shows at `progress` (0…1) of its duration.
    static QColor colorAt(const QColor& from, const QColor& to, double progress);

    void classBegin() override { m_built = false; }
    void componentComplete() override { m_built = true; }

Q_SIGNALS:
    void targetChanged();
    void colorChanged();
    void durationChanged();
    void enabledChanged();

private:
    bool isFadingAt(double now) const;
    void step();
    void show(const QColor& color);

    Clock* m_clock;
    QColor m_target;
    QColor m_from;
    QColor m_color;
    double m_start = 0;
    int m_duration = 350;
    bool m_enabled = true;
    bool m_built = true;
    FrameTicker m_ticker;
};

} // namespace velline
