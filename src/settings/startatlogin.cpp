#include "settings/startatlogin.h"

#include "desktop/autostart.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace velline {

StartAtLogin::StartAtLogin(QObject* parent) : QObject(parent) {}

bool StartAtLogin::isEnabled() const {
    return autostart::isEnabled();
}

QString StartAtLogin::executable() {
    return QFileInfo(QCoreApplication::applicationFilePath()).absoluteFilePath();
}

void StartAtLogin::setEnabled(bool on) {
    QString error;
    const bool ok = on ? autostart::enable(executable(), &error) : autostart::disable(&error);
    const QString message = ok ? QString() : error;
    if (message != m_error) {
        m_error = message;
        Q_EMIT errorChanged();
    }
    // Also on failure, so a switch the user flipped springs back to the truth.
    Q_EMIT enabledChanged();
}

void StartAtLogin::refresh() {
    Q_EMIT enabledChanged();
}

} // namespace velline
