#include "settings/settingspalette.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPalette>

namespace velline {

SettingsPalette::SettingsPalette(QObject* parent) : QObject(parent) {
    if (qApp)
        qApp->installEventFilter(this);
}

bool SettingsPalette::eventFilter(QObject* watched, QEvent* event) {
    if (watched == qApp && event->type() == QEvent::ApplicationPaletteChange)
        Q_EMIT changed();
    return QObject::eventFilter(watched, event);
}

QColor SettingsPalette::role(QPalette::ColorRole role, QPalette::ColorGroup group) {
    return QGuiApplication::palette().color(group, role);
}

QColor SettingsPalette::primary() const {
    return QGuiApplication::palette().color(QPalette::Active, QPalette::WindowText);
}

QColor SettingsPalette::secondary() const {
    return withOpacity(primary(), 0.55);
}

QColor SettingsPalette::accent() const {
    return QGuiApplication::palette().color(QPalette::Active, QPalette::Highlight);
}

QColor SettingsPalette::background() const {
    return QGuiApplication::palette().color(QPalette::Active, QPalette::Window);
}

bool SettingsPalette::isDark() const {
    return background().lightnessF() < primary().lightnessF();
}

QColor SettingsPalette::sidebar() const {
    // A shade off the window colour, towards the text colour.
    const QColor bg = background();
    const QColor fg = primary();
    const double t = 0.04;
    return QColor::fromRgbF(bg.redF() + (fg.redF() - bg.redF()) * t,
                            bg.greenF() + (fg.greenF() - bg.greenF()) * t,
                            bg.blueF() + (fg.blueF() - bg.blueF()) * t);
}

QColor SettingsPalette::green() const {
    return isDark() ? QColor(48, 209, 88) : QColor(40, 167, 69);
}

QColor SettingsPalette::red() const {
    return isDark() ? QColor(255, 69, 58) : QColor(230, 45, 40);
}

QColor SettingsPalette::primaryAt(double opacity) const {
    return withOpacity(primary(), opacity);
}

QColor SettingsPalette::withOpacity(const QColor& color, double opacity) {
    QColor c = color;
    c.setAlphaF(float(c.alphaF() * opacity));
    return c;
}

} // namespace velline
