#pragma once

#include <QColor>
#include <QObject>
#include <QtQmlIntegration/qqmlintegration.h>

class QJSEngine;
class QQmlEngine;

namespace velline {

// The settings window's colours, taken from the desktop's palette (light or dark) and updated
// when the desktop changes it. Cards and highlights are the text colour at low opacity, so they
// read on either.
class SettingsPalette : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    Q_PROPERTY(QColor primary READ primary NOTIFY changed)
    Q_PROPERTY(QColor secondary READ secondary NOTIFY changed)
    Q_PROPERTY(QColor accent READ accent NOTIFY changed)
    Q_PROPERTY(QColor background READ background NOTIFY changed)
    Q_PROPERTY(QColor sidebar READ sidebar NOTIFY changed)
    Q_PROPERTY(bool isDark READ isDark NOTIFY changed)
    // The system tints of the badges and buttons.
    Q_PROPERTY(QColor green READ green NOTIFY changed)
    Q_PROPERTY(QColor red READ red NOTIFY changed)

public:
    explicit SettingsPalette(QObject* parent = nullptr);

    QColor primary() const;
    QColor secondary() const;
    QColor accent() const;
    QColor background() const;
    QColor sidebar() const;
    bool isDark() const;
    QColor green() const;
    QColor red() const;

    // The primary colour at `opacity`.
    Q_INVOKABLE QColor primaryAt(double opacity) const;
    // `color` at `opacity` (for tints).
    Q_INVOKABLE static QColor withOpacity(const QColor& color, double opacity);

Q_SIGNALS:
    void changed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

} // namespace velline
