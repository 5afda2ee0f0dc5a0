#include "settings/coloroverride.h"

#include "notch/notchtheme.h"

#include <QApplication>
#include <QColorDialog>

namespace velline {

namespace {

QPointer<QColorDialog> sharedDialog;
QMetaObject::Connection dialogConnection;

std::optional<RGBColor> ColorSchemePrefs::*member(const QString& key) {
    if (key == QLatin1String("equityUp"))
        return &ColorSchemePrefs::equityUp;
    if (key == QLatin1String("equityDown"))
        return &ColorSchemePrefs::equityDown;
    if (key == QLatin1String("futuresUp"))
        return &ColorSchemePrefs::futuresUp;
    if (key == QLatin1String("futuresDown"))
        return &ColorSchemePrefs::futuresDown;
    return nullptr;
}

} // namespace

ColorOverride::ColorOverride(QObject* parent) : QObject(parent) {
    connectPrefs();
}

bool ColorOverride::isKnownKey(const QString& key) {
    return member(key) != nullptr;
}

QColor ColorOverride::defaultColorFor(const QString& key) {
    if (key == QLatin1String("equityUp"))
        return toQColor(NotchPalette::equityUpDefault());
    if (key == QLatin1String("equityDown"))
        return toQColor(NotchPalette::equityDownDefault());
    if (key == QLatin1String("futuresUp"))
        return toQColor(NotchPalette::futuresUpDefault());
    if (key == QLatin1String("futuresDown"))
        return toQColor(NotchPalette::futuresDownDefault());
    return {};
}

RGBColor ColorOverride::toRGBColor(const QColor& color) {
    if (!color.isValid())
        return {1.0, 1.0, 1.0};
    const QColor rgb = color.toRgb();
    return {rgb.redF(), rgb.greenF(), rgb.blueF()};
}

UserPreferences* ColorOverride::prefs() const {
    return &target();
}

UserPreferences& ColorOverride::target() const {
    return m_prefs ? *m_prefs : UserPreferences::shared();
}

void ColorOverride::setPrefs(UserPreferences* prefs) {
    if (m_prefs == prefs)
        return;
    m_prefs = prefs;
    connectPrefs();
    Q_EMIT prefsChanged();
    Q_EMIT changed();
}

void ColorOverride::connectPrefs() {
    disconnect(m_connection);
    m_connection =
        connect(&target(), &UserPreferences::colorSchemeChanged, this, &ColorOverride::changed);
}

void ColorOverride::setKey(const QString& key) {
    if (m_key == key)
        return;
    m_key = key;
    Q_EMIT keyChanged();
    Q_EMIT changed();
}

std::optional<RGBColor> ColorOverride::current() const {
    const auto field = member(m_key);
    if (!field)
        return std::nullopt;
    return target().colorScheme().*field;
}

QColor ColorOverride::color() const {
    if (const auto value = current())
        return toQColor(*value);
    return defaultColor();
}

bool ColorOverride::isSet() const {
    return current().has_value();
}

void ColorOverride::write(const std::optional<RGBColor>& value) {
    const auto field = member(m_key);
    if (!field)
        return;
    ColorSchemePrefs scheme = target().colorScheme();
    scheme.*field = value;
    target().setColorScheme(scheme);
}

void ColorOverride::pick(const QColor& color) {
    write(toRGBColor(color));
}

void ColorOverride::revert() {
    write(std::nullopt);
}

QColorDialog* ColorOverride::dialog() {
    return sharedDialog.data();
}

void ColorOverride::choose(const QString& title, QWindow* parent) {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()) || !isKnownKey(m_key))
        return;
    if (!sharedDialog) {
        sharedDialog = new QColorDialog();
        sharedDialog->setOption(QColorDialog::ShowAlphaChannel, false);
    }
    QObject::disconnect(dialogConnection);
    QPointer<ColorOverride> self(this);
    dialogConnection = connect(sharedDialog.data(), &QColorDialog::colorSelected, this,
                               [self](const QColor& color) {
                                   if (self)
                                       self->pick(color);
                               });
    sharedDialog->setWindowTitle(title);
    sharedDialog->setCurrentColor(color());
    sharedDialog->winId(); // the native window, so it can sit over the settings window
    if (QWindow* handle = sharedDialog->windowHandle())
        handle->setTransientParent(parent);
    sharedDialog->open();
    sharedDialog->raise();
    sharedDialog->activateWindow();
}

} // namespace velline
