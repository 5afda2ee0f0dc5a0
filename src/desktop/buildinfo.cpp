#include "desktop/buildinfo.h"

#include <QString>

namespace velline::buildinfo {

QString versionText() {
    return QStringLiteral("Velline v%1 (%2)")
        .arg(QLatin1String(kVersion), QLatin1String(kBuildNumber));
}

} // namespace velline::buildinfo
