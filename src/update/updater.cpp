#include "update/updater.h"

#include "desktop/buildinfo.h"

namespace velline {

Updater::Updater(QObject* parent) : QObject(parent) {}

Updater::~Updater() = default;

bool Updater::automaticallyChecksForUpdates() const {
    return m_automatic && canCheckForUpdates();
}

void Updater::setAutomaticallyChecksForUpdates(bool on) {
    m_automatic = on;
    Q_EMIT automaticallyChecksForUpdatesChanged();
}

bool Updater::canCheckForUpdates() const {
    return false;
}

QString Updater::versionText() {
    return buildinfo::versionText();
}

void Updater::checkForUpdates() {}

} // namespace velline
