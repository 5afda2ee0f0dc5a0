#pragma once

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

namespace velline {

// One running Velline per session: it owns the well-known name velline::buildinfo::kAppId on
// the session bus and exports org.freedesktop.Application there, so the command line
// (`velline --quick-add` ...) and the desktop's launcher reach it.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Claim {
        owned, // this process is the one instance
        taken, // another process runs
        noBus, // no session bus: no guard at all
    };

    // The actions org.freedesktop.Application.ActivateAction accepts.
    static const QStringList& actionNames();
    // The object path of the interface: the application id with dots as slashes.
    static QString objectPath();
    static QString serviceName();

    explicit SingleInstance(const QDBusConnection& bus, QObject* parent = nullptr);
    ~SingleInstance() override;

    // Tries to own the name and, once owned, exports the interface.
    Claim claim();
    bool isOwner() const { return m_owned; }
    QDBusConnection bus() const { return m_bus; }

    // Whether some process owns the name on `bus`.
    static bool isRunning(const QDBusConnection& bus);
    // Asks the running instance to run `action`. On failure returns false with a message.
    static bool activateAction(const QDBusConnection& bus, const QString& action, QString* error);

Q_SIGNALS:
    // A known action arrived from the bus.
    void actionRequested(const QString& action);
    // The launcher started Velline again (Activate).
    void activated();

private:
    friend class ApplicationAdaptor;
    QDBusConnection m_bus;
    bool m_owned = false;
};

// org.freedesktop.Application on the bus, forwarding to its SingleInstance.
class ApplicationAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")
public:
    explicit ApplicationAdaptor(SingleInstance* instance);

public Q_SLOTS:
    void Activate(const QVariantMap& platformData);
    void Open(const QStringList& uris, const QVariantMap& platformData);
    void ActivateAction(const QString& name, const QVariantList& parameter,
                        const QVariantMap& platformData);

private:
    SingleInstance* m_instance;
};

} // namespace velline
