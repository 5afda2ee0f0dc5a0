#include "desktop/singleinstance.h"

#include "desktop/buildinfo.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QTextStream>

namespace velline {

namespace {

const QString kInterface = QStringLiteral("org.freedesktop.Application");
// A running instance answers at once; a hung one must not hang the command line.
constexpr int kCallTimeoutMs = 5000;

} // namespace

const QStringList& SingleInstance::actionNames() {
    static const QStringList names{QStringLiteral("quick-add"), QStringLiteral("settings"),
                                   QStringLiteral("refresh"), QStringLiteral("quit")};
    return names;
}

QString SingleInstance::serviceName() {
    return QString::fromLatin1(buildinfo::kAppId);
}

QString SingleInstance::objectPath() {
    QString path = QLatin1Char('/') + serviceName();
    path.replace(QLatin1Char('.'), QLatin1Char('/'));
    path.replace(QLatin1Char('-'), QLatin1Char('_'));
    return path;
}

SingleInstance::SingleInstance(const QDBusConnection& bus, QObject* parent)
    : QObject(parent), m_bus(bus) {}

SingleInstance::~SingleInstance() {
    if (m_owned) {
        m_bus.unregisterObject(objectPath());
        m_bus.unregisterService(serviceName());
    }
}

SingleInstance::Claim SingleInstance::claim() {
    if (m_owned)
        return Claim::owned;
    QDBusConnectionInterface* bus = m_bus.isConnected() ? m_bus.interface() : nullptr;
    if (!bus)
        return Claim::noBus;
    // Export first, so a request arriving right after the name is ours finds the interface.
    new ApplicationAdaptor(this);
    if (!m_bus.registerObject(objectPath(), this, QDBusConnection::ExportAdaptors))
        return Claim::taken;
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply =
        bus->registerService(serviceName(), QDBusConnectionInterface::DontQueueService,
                             QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid()) {
        m_bus.unregisterObject(objectPath());
        return Claim::noBus;
    }
    if (reply.value() != QDBusConnectionInterface::ServiceRegistered) {
        m_bus.unregisterObject(objectPath());
        return Claim::taken;
    }
    m_owned = true;
    return Claim::owned;
}

bool SingleInstance::isRunning(const QDBusConnection& bus) {
    QDBusConnectionInterface* iface = bus.isConnected() ? bus.interface() : nullptr;
    return iface && iface->isServiceRegistered(serviceName()).value();
}

bool SingleInstance::activateAction(const QDBusConnection& bus, const QString& action,
                                    QString* error) {
    if (!bus.isConnected()) {
        *error = QStringLiteral("no session bus, so there is no running Velline to ask");
        return false;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(serviceName(), objectPath(), kInterface,
                                                       QStringLiteral("ActivateAction"));
    call << action << QVariant::fromValue(QVariantList()) << QVariant::fromValue(QVariantMap());
    // Events keep flowing while waiting, so the instance may even live in this process.
    const QDBusMessage reply = bus.call(call, QDBus::BlockWithGui, kCallTimeoutMs);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        *error =
            QStringLiteral("the running Velline did not answer (%1)").arg(reply.errorMessage());
        return false;
    }
    return true;
}

ApplicationAdaptor::ApplicationAdaptor(SingleInstance* instance)
    : QDBusAbstractAdaptor(instance), m_instance(instance) {}

void ApplicationAdaptor::Activate(const QVariantMap&) {
    Q_EMIT m_instance->activated();
}

void ApplicationAdaptor::Open(const QStringList&, const QVariantMap&) {
    // Velline opens no files.
    Q_EMIT m_instance->activated();
}

void ApplicationAdaptor::ActivateAction(const QString& name, const QVariantList&,
                                        const QVariantMap&) {
    if (!SingleInstance::actionNames().contains(name)) {
        QTextStream(stderr) << "velline: unknown action '" << name << "' asked over D-Bus\n";
        return;
    }
    // After the reply has gone out: quitting inside the call would leave the caller waiting.
    QMetaObject::invokeMethod(
        m_instance, [instance = m_instance, name] { Q_EMIT instance->actionRequested(name); },
        Qt::QueuedConnection);
}

} // namespace velline
