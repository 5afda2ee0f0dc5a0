#include "desktop/desktopnotifier.h"

#include "desktop/buildinfo.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QPointer>
#include <QVariantMap>

#include <utility>

namespace velline {

const QString DesktopNotifier::kService = QStringLiteral("org.freedesktop.Notifications");
const QString DesktopNotifier::kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString DesktopNotifier::kInterface = QStringLiteral("org.freedesktop.Notifications");

DesktopNotifier::DesktopNotifier(QObject* parent)
    : DesktopNotifier(QDBusConnection::sessionBus(), parent) {}

DesktopNotifier::DesktopNotifier(const QDBusConnection& bus, QObject* parent)
    : QObject(parent), m_bus(bus) {}

DesktopNotifier::~DesktopNotifier() = default;

void DesktopNotifier::notify(const QString& summary, const QString& body) {
    if (!m_bus.isConnected())
        return;
    // Until the server has named the previous notification there is nothing to replace: hold
    // the newest text back rather than open a second notification.
    if (m_inFlight) {
        m_waiting = {summary, body};
        return;
    }
    send(summary, body);
}

void DesktopNotifier::send(const QString& summary, const QString& body) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    const QVariantMap hints{
        {QStringLiteral("desktop-entry"), QString::fromLatin1(buildinfo::kAppId)},
    };
    call << QStringLiteral("Velline") << m_lastId << QString::fromLatin1(buildinfo::kAppId)
         << summary << body << QStringList() << hints << int(-1);
    m_inFlight = true;
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        const QDBusPendingReply<uint> reply = *w;
        w->deleteLater();
        m_inFlight = false;
        if (!reply.isError()) {
            m_lastId = reply.value();
            Q_EMIT delivered(m_lastId);
        } else {
            Q_EMIT refused();
        }
        if (const auto waiting = std::exchange(m_waiting, std::nullopt))
            send(waiting->first, waiting->second);
    });
}

} // namespace velline
