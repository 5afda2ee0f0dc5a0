#pragma once

#include <QColor>
#include <QObject>
#include <QPalette>
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
    // The desktop palette's roles, handed to the controls so they follow it as well.
    Q_PROPERTY(QColor button READ button NOTIFY changed)
    Q_PROPERTY(QColor buttonText READ buttonText NOTIFY changed)
    Q_PROPERTY(QColor base READ base NOTIFY changed)
    Q_PROPERTY(QColor text READ text NOTIFY changed)
    Q_PROPERTY(QColor highlightedText READ highlightedText NOTIFY changed)
    Q_PROPERTY(QColor light READ light NOTIFY changed)
    Q_PROPERTY(QColor midlight READ midlight NOTIFY changed)
    Q_PROPERTY(QColor mid READ mid NOTIFY changed)
    Q_PROPERTY(QColor dark READ dark NOTIFY changed)
    Q_PROPERTY(QColor shadow READ shadow NOTIFY changed)
    Q_PROPERTY(QColor toolTipBase READ toolTipBase NOTIFY changed)
    Q_PROPERTY(QColor toolTipText READ toolTipText NOTIFY changed)
    Q_PROPERTY(QColor placeholderText READ placeholderText NOTIFY changed)
    Q_PROPERTY(QColor disabledText READ disabledText NOTIFY changed)

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

    static QColor role(QPalette::ColorRole role, QPalette::ColorGroup group = QPalette::Active);
    QColor button() const { return role(QPalette::Button); }
    QColor buttonText() const { return role(QPalette::ButtonText); }
    QColor base() const { return role(QPalette::Base); }
    QColor text() const { return role(QPalette::Text); }
    QColor highlightedText() const { return role(QPalette::HighlightedText); }
    QColor light() const { return role(QPalette::Light); }
    QColor midlight() const { return role(QPalette::Midlight); }
    QColor mid() const { return role(QPalette::Mid); }
    QColor dark() const { return role(QPalette::Dark); }
    QColor shadow() const { return role(QPalette::Shadow); }
    QColor toolTipBase() const { return role(QPalette::ToolTipBase); }
    QColor toolTipText() const { return role(QPalette::ToolTipText); }
    QColor placeholderText() const { return role(QPalette::PlaceholderText); }
    QColor disabledText() const { return role(QPalette::ButtonText, QPalette::Disabled); }

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
