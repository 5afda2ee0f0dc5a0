#pragma once

#include <QObject>
#include <QString>
#include <QtQmlIntegration/qqmlintegration.h>

namespace velline {

// The "Start at login" switch: on while Velline's autostart entry exists. Turning it on writes
// the entry for the running program; off removes it.
class StartAtLogin : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(bool enabled READ isEnabled WRITE setEnabled NOTIFY enabledChanged)
    // Why the last change failed; empty after a successful one.
    Q_PROPERTY(QString error READ error NOTIFY errorChanged)

public:
    explicit StartAtLogin(QObject* parent = nullptr);

    bool isEnabled() const;
    void setEnabled(bool on);
    QString error() const { return m_error; }

    // The program the entry starts: the running executable's absolute path.
    static QString executable();

    // Re-reads the entry (the user may have removed it elsewhere); notifies.
    Q_INVOKABLE void refresh();

Q_SIGNALS:
    void enabledChanged();
    void errorChanged();

private:
    QString m_error;
};

} // namespace velline
