#pragma once

#include "clock/clock.h"
#include "market/stock.h"
#include "notch/motion.h"
#include "notch/notchtheme.h"

#include <QColor>
#include <QObject>
#include <QPointer>
#include <QQmlParserStatus>
#include <QQuickItem>
#include <QtQmlIntegration/qqmlintegration.h>

#include <optional>

namespace velline {

// Watches a number on screen: when it changes, the text scales up a little and glows in the
// colour of the change (up or down), then settles back. Bind the text's scale to `scale` and
// its glow's opacity to `glow` × 0.75:
//   TickerFlash { id: flash; value: model.price; theme: model.theme }
// or hand it the two items, which it then moves itself at every frame, without a binding to
// evaluate (the glow shows while its opacity is more than nothing):
//   TickerFlash { value: model.price; scaleTarget: number; glowTarget: numberGlow }
// The first value seen, and the value when the view comes on screen (appear()), never flash;
// nor does a change of 0.0001 or less.
class TickerFlash : public QObject, public QQmlParserStatus {
    Q_OBJECT
    QML_ELEMENT
    Q_INTERFACES(QQmlParserStatus)
    Q_PROPERTY(double value READ value WRITE setValue NOTIFY valueChanged)
    Q_PROPERTY(velline::NotchTheme theme READ theme WRITE setTheme NOTIFY colorChanged)
    Q_PROPERTY(bool isActive READ isActive WRITE setIsActive NOTIFY isActiveChanged)
    Q_PROPERTY(double scale READ scale NOTIFY frame)
    Q_PROPERTY(double glow READ glow NOTIFY frame)
    Q_PROPERTY(QColor color READ color NOTIFY colorChanged)
    Q_PROPERTY(QQuickItem* scaleTarget READ scaleTarget WRITE setScaleTarget NOTIFY targetsChanged)
    Q_PROPERTY(QQuickItem* glowTarget READ glowTarget WRITE setGlowTarget NOTIFY targetsChanged)

public:
    static constexpr double threshold = 0.0001;
    static constexpr double peakScale = 1.06;
    static constexpr double riseTime = 0.12;
    static constexpr double fallTime = 0.36;
    // The scale moves in steps of a hundredth: six sizes between 1 and the peak, whose glyphs
    // the font engine keeps from one flash to the next (it keeps ten scaled sets per font), where
    // a fresh size at every frame had each glyph rasterised again. A step is a fifth of a pixel
    // at either end of a price, less than anti-aliasing shows.
    static constexpr double scaleStep = 0.01;
    // A glow target's opacity at full glow, and the glow below which it is hidden (its opacity
    // rounds to nothing there).
    static constexpr double glowOpacity = 0.75;
    static constexpr double glowShownAbove = 0.001;

    explicit TickerFlash(QObject* parent = nullptr);
    TickerFlash(Clock* clock, QObject* parent);

    double value() const { return m_value; }
    void setValue(double value);
    NotchTheme theme() const { return m_theme; }
    void setTheme(const NotchTheme& theme);
    bool isActive() const { return m_active; }
    void setIsActive(bool active);
    QQuickItem* scaleTarget() const { return m_scaleTarget; }
    void setScaleTarget(QQuickItem* item);
    QQuickItem* glowTarget() const { return m_glowTarget; }
    void setGlowTarget(QQuickItem* item);

    // The view came on screen: the current value is taken as seen, and any flash is dropped.
    Q_INVOKABLE void appear();

    double scale() const;
    double glow() const;
    Stock::Direction flashDirection() const { return m_direction; }
    std::optional<double> previousValue() const { return m_previous; }
    // Up in the theme's muted positive colour, down in its muted negative, else primary text.
    QColor color() const;

    void classBegin() override {}
    void componentComplete() override { appear(); }

Q_SIGNALS:
    void valueChanged();
    void isActiveChanged();
    void targetsChanged();
    void colorChanged();
    // scale or glow moved.
    void frame();
    // A flash started.
    void flashed();

private:
    void flash();
    bool isMoving() const;
    void moveTargets();

    Clock* m_clock;
    double m_value = 0;
    bool m_hasValue = false;
    NotchTheme m_theme;
    bool m_active = true;
    std::optional<double> m_previous;
    Stock::Direction m_direction = Stock::Direction::flat;
    AnimatedValue m_scale{1.0};
    AnimatedValue m_glow{0.0};
    FrameTicker m_ticker;
    QPointer<QQuickItem> m_scaleTarget;
    QPointer<QQuickItem> m_glowTarget;
    // Dropping the object cancels the flashes it started.
    std::shared_ptr<int> m_generation = std::make_shared<int>(0);
};

} // namespace velline
