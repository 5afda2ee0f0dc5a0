#include "desktop/autostart.h"

#include "desktop/buildinfo.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace velline::autostart {

QString entryPath() {
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return config + QStringLiteral("/autostart/") + QLatin1String(buildinfo::kAppId) +
           QStringLiteral(".desktop");
}

QString execValue(const QString& executable) {
    // Characters that make the Exec parser split or expand the argument unless quoted.
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`=%");
    bool quote = executable.isEmpty();
    for (QChar c : executable) {
        if (reserved.contains(c)) {
            quote = true;
            break;
        }
    }
    QString argument;
    if (!quote) {
        argument = executable;
    } else {
        argument = QStringLiteral("\"");
        for (QChar c : executable) {
            if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
                argument += u'\\';
            argument += c;
        }
        argument += u'"';
    }
    // A desktop-entry string escapes its backslashes, and Exec escapes a literal % as %%.
    QString value;
    for (QChar c : argument) {
        if (c == u'\\')
            value += QStringLiteral("\\\\");
        else if (c == u'%')
            value += QStringLiteral("%%");
        else
            value += c;
    }
    return value;
}

QString entryText(const QString& executable) {
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Velline\n"
                          "Comment=Stock ticker in a notch at the top of the screen\n"
                          "Exec=%1\n"
                          "Icon=%2\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(execValue(executable), QLatin1String(buildinfo::kAppId));
}

bool isEnabled() {
    return QFileInfo::exists(entryPath());
}

bool enable(const QString& executable, QString* error) {
    const QString path = entryPath();
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        if (error)
            *error = QStringLiteral("cannot create %1").arg(QFileInfo(path).absolutePath());
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(entryText(executable).toUtf8()) < 0 ||
        !file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

bool disable(QString* error) {
    QFile file(entryPath());
    if (!file.exists() || file.remove())
        return true;
    if (error)
        *error = file.errorString();
    return false;
}

} // namespace velline::autostart
