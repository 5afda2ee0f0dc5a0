#pragma once

#include <QAbstractNativeEventFilter>
#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <functional>

class QDBusObjectPath;

namespace velline {

// The one system-wide shortcut of the program, Super+K. In an X11 session it is a key grab on
// the root window (with the NumLock and CapsLock variants), read in a native event filter; in a
// Wayland session it is bound through the desktop portal's GlobalShortcuts interface when the
// portal offers it, else the X grab again. Either way onTrigger runs on a later turn of the
// event loop, never inside the platform's callback. A key taken by another program or a refused
// portal request gives one warning line on stderr and nothing else.
class GlobalHotKey : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT
public:
    enum class Backend { none, x11Grab, portal };
    Q_ENUM(Backend)

    // The shortcut's id and description as the portal shows them in the desktop's settings.
    static constexpr const char* kShortcutId = "quick-add";
    static constexpr const char* kDescription = "Add a stock to Velline";
    // Super+K as the freedesktop shortcut notation writes it.
    static constexpr const char* kPreferredTrigger = "LOGO+k";

    explicit GlobalHotKey(QObject* parent = nullptr);
    ~GlobalHotKey() override;

    // Called once per press; the newest value is used at the next press.
    void setOnTrigger(std::function<void()> onTrigger) { m_onTrigger = std::move(onTrigger); }

    // Registers Super+K the way the session allows (see above). Call once per run.
    void registerHotKey();
    // The X grab alone. Returns false (after its one warning line) when the key is taken or
    // there is no X11 connection.
    bool grabX11();
    // The portal alone, on `bus`; without the interface falls back to grabX11().
    void bindPortal(const QDBusConnection& bus);

    Backend backend() const { return m_backend; }
    // A Wayland session, where an X grab sees keys only while an X11 window has focus.
    static bool isWaylandSession();

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

Q_SIGNALS:
    // After onTrigger ran.
    void triggered();
    // Registration ended: `backend` is none when it failed.
    void registrationFinished(velline::GlobalHotKey::Backend backend);

private Q_SLOTS:
    void portalResponse(uint response, const QVariantMap& results);
    void portalActivated(const QDBusObjectPath& session, const QString& shortcut,
                         qulonglong timestamp, const QVariantMap& options);

private:
    enum class PortalStep { idle, creatingSession, binding, bound };

    void fire();
    void probePortal();
    void ungrabX11();
    void warn(const QString& line);
    void finish(Backend backend);
    // Calls `method` of the portal with a fresh request token and waits for its Response.
    void portalRequest(const QString& method, QList<QVariant> arguments, QVariantMap options);
    void watchRequest(const QString& path);

    std::function<void()> m_onTrigger;
    Backend m_backend = Backend::none;
    // X grab
    unsigned m_root = 0;
    unsigned char m_keycode = 0;
    bool m_filterInstalled = false;
    unsigned m_lastReleaseTime = 0;
    // Portal
    QDBusConnection m_bus{QString()};
    PortalStep m_step = PortalStep::idle;
    QString m_requestPath;
    QString m_sessionHandle;
    int m_tokenCounter = 0;
};

} // namespace velline
