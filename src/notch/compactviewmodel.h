#pragma once

#include "clock/clock.h"
#include "market/stock.h"
#include "notch/compactrules.h"
#include "notch/notchtheme.h"
#include "notch/spikehold.h"

#include <QColor>
#include <QObject>
#include <QString>
#include <QVariant>
#include <QtQmlIntegration/qqmlintegration.h>

#include <optional>

namespace velline {

// Everything the two compact views draw, worked out from the stock on screen, the theme and
// the display mode. The views only lay these values out. `isSpiking` ends on its own four
// seconds after the spike (a one-shot job on the clock, no polling).
class CompactViewModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    // Inputs. `stock` is a Stock or null; `displayMode` the stored text of a DisplayMode
    // ("regular", "compact", "compact2", "doNotDisturb"; anything else reads as regular).
    Q_PROPERTY(QVariant stock READ stockValue WRITE setStockValue NOTIFY changed)
    Q_PROPERTY(velline::NotchTheme theme READ theme WRITE setTheme NOTIFY changed)
    Q_PROPERTY(QString displayMode READ displayModeRaw WRITE setDisplayModeRaw NOTIFY changed)

    Q_PROPERTY(bool hasStock READ hasStock NOTIFY changed)
    Q_PROPERTY(QString symbol READ symbol NOTIFY changed)
    // Leading view.
    Q_PROPERTY(bool leadingHidden READ leadingHidden NOTIFY changed)
    Q_PROPERTY(bool showLogo READ showLogo NOTIFY changed)
    Q_PROPERTY(bool showTicker READ showTicker NOTIFY changed)
    // Trailing view.
    Q_PROPERTY(bool trailingHidden READ trailingHidden NOTIFY changed)
    Q_PROPERTY(bool showPrice READ showPrice NOTIFY changed)
    Q_PROPERTY(QString priceText READ priceText NOTIFY changed)
    Q_PROPERTY(double price READ price NOTIFY changed)
    Q_PROPERTY(bool showArrow READ showArrow NOTIFY changed)
    Q_PROPERTY(QString arrowName READ arrowName NOTIFY changed)
    Q_PROPERTY(QColor arrowColor READ arrowColor NOTIFY changed)
    Q_PROPERTY(bool showPercent READ showPercent NOTIFY changed)
    Q_PROPERTY(QString percentText READ percentText NOTIFY changed)
    Q_PROPERTY(double changePercent READ changePercent NOTIFY changed)
    Q_PROPERTY(QColor percentColor READ percentColor NOTIFY changed)
    Q_PROPERTY(int percentWeight READ percentWeight NOTIFY changed)
    // The percentage glows while spiking; transparent otherwise.
    Q_PROPERTY(QColor percentGlowColor READ percentGlowColor NOTIFY changed)
    Q_PROPERTY(bool isSpiking READ isSpiking NOTIFY changed)

public:
    explicit CompactViewModel(QObject* parent = nullptr);
    CompactViewModel(Clock* clock, QObject* parent);

    QVariant stockValue() const;
    void setStockValue(const QVariant& value);
    void setStock(const std::optional<Stock>& stock);
    const std::optional<Stock>& stock() const { return m_stock; }
    NotchTheme theme() const { return m_theme; }
    void setTheme(const NotchTheme& theme);
    QString displayModeRaw() const;
    void setDisplayModeRaw(const QString& raw);
    DisplayMode displayMode() const { return m_mode; }
    void setDisplayMode(DisplayMode mode);

    compact::LeadingContent leadingContent() const;
    compact::TrailingContent trailingContent() const;

    bool hasStock() const { return m_stock.has_value(); }
    QString symbol() const { return m_stock ? m_stock->symbol : QString(); }
    bool leadingHidden() const;
    bool showLogo() const;
    bool showTicker() const;
    bool trailingHidden() const;
    bool showPrice() const;
    QString priceText() const;
    double price() const { return m_stock ? m_stock->price : 0; }
    bool showArrow() const;
    QString arrowName() const;
    QColor arrowColor() const;
    bool showPercent() const;
    QString percentText() const;
    double changePercent() const { return m_stock ? m_stock->changePercent() : 0; }
    QColor directionColor() const;
    QColor percentColor() const { return directionColor(); }
    // QFont weights: semibold (600) while spiking, medium (500) otherwise.
    int percentWeight() const { return m_spiking ? 600 : 500; }
    QColor percentGlowColor() const;
    bool isSpiking() const { return m_spiking; }

Q_SIGNALS:
    void changed();

private:
    void reevaluate();

    Clock* m_clock;
    std::optional<Stock> m_stock;
    NotchTheme m_theme;
    DisplayMode m_mode = DisplayMode::regular;
    bool m_spiking = false;
    SpikeHold m_spikeHold;
};

} // namespace velline
