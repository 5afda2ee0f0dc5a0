#include "input/globalhotkey.h"

#include "desktop/buildinfo.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QGuiApplication>
#include <QTextStream>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <cstdlib>
#include <memory>

namespace velline {

namespace {

const QString kPortalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kShortcutsInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString kRequestInterface = QStringLiteral("org.freedesktop.portal.Request");

constexpr xcb_keysym_t kKeysymK = 0x006b; // XK_k
constexpr uint16_t kModifiers = XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 |
                                XCB_MOD_MASK_3 | XCB_MOD_MASK_4 | XCB_MOD_MASK_5;
// The grab is repeated with NumLock (Mod2) and CapsLock (Lock), which X counts as modifiers.
constexpr uint16_t kLockVariants[] = {0, XCB_MOD_MASK_2, XCB_MOD_MASK_LOCK,
                                      XCB_MOD_MASK_2 | XCB_MOD_MASK_LOCK};

xcb_connection_t* connection() {
    auto* app = qGuiApp;
    if (!app)
        return nullptr;
    auto* x11 = app->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

xcb_window_t rootWindow(xcb_connection_t* c) {
    int screenNumber = 0;
    const QByteArray display = qgetenv("DISPLAY");
    char* host = nullptr;
    int displayNumber = 0;
    if (xcb_parse_display(display.constData(), &host, &displayNumber, &screenNumber))
        std::free(host);
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber && it.rem; ++i)
        xcb_screen_next(&it);
    return it.rem ? it.data->root : XCB_NONE;
}

xcb_keycode_t keycodeOf(xcb_connection_t* c, xcb_keysym_t keysym) {
    xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(c);
    if (!symbols)
        return 0;
    xcb_keycode_t code = 0;
    if (xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols, keysym)) {
        code = codes[0] == XCB_NO_SYMBOL ? 0 : codes[0];
        std::free(codes);
    }
    xcb_key_symbols_free(symbols);
    return code;
}

// One entry of BindShortcuts' a(sa{sv}).
struct PortalShortcut {
    QString id;
    QVariantMap properties;
};

QDBusArgument& operator<<(QDBusArgument& arg, const PortalShortcut& s) {
    arg.beginStructure();
    arg << s.id << s.properties;
    arg.endStructure();
    return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, PortalShortcut& s) {
    arg.beginStructure();
    arg >> s.id >> s.properties;
    arg.endStructure();
    return arg;
}

} // namespace

} // namespace velline

Q_DECLARE_METATYPE(velline::PortalShortcut)

namespace velline {

GlobalHotKey::GlobalHotKey(QObject* parent) : QObject(parent) {}

GlobalHotKey::~GlobalHotKey() {
    ungrabX11();
}

bool GlobalHotKey::isWaylandSession() {
    return qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

void GlobalHotKey::registerHotKey() {
    if (isWaylandSession() && QDBusConnection::sessionBus().isConnected())
        bindPortal(QDBusConnection::sessionBus());
    else
        grabX11();
}

void GlobalHotKey::warn(const QString& line) {
    QTextStream(stderr) << "velline: " << line << '\n';
}

void GlobalHotKey::finish(Backend backend) {
    m_backend = backend;
    Q_EMIT registrationFinished(backend);
}

void GlobalHotKey::fire() {
    // Never inside the platform's callback: the trigger may show windows and take the keyboard.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_onTrigger)
                m_onTrigger();
            Q_EMIT triggered();
        },
        Qt::QueuedConnection);
}

// ---- X11 ----

bool GlobalHotKey::grabX11() {
    xcb_connection_t* c = connection();
    if (!c) {
        warn(QStringLiteral("no X11 display: Super+K is not available, use Add Stock\u2026 in the "
                            "menu or bind `velline --quick-add` to a key"));
        finish(Backend::none);
        return false;
    }
    const xcb_window_t root = rootWindow(c);
    const xcb_keycode_t keycode = keycodeOf(c, kKeysymK);
    if (root == XCB_NONE || keycode == 0) {
        warn(QStringLiteral("the keyboard has no K key: Super+K is not available"));
        finish(Backend::none);
        return false;
    }
    xcb_void_cookie_t cookies[std::size(kLockVariants)];
    for (size_t i = 0; i < std::size(kLockVariants); ++i) {
        cookies[i] = xcb_grab_key_checked(c, 0, root, XCB_MOD_MASK_4 | kLockVariants[i], keycode,
                                          XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    }
    bool refused = false;
    for (const xcb_void_cookie_t& cookie : cookies) {
        if (xcb_generic_error_t* error = xcb_request_check(c, cookie)) {
            refused = true;
            std::free(error);
        }
    }
    m_root = root;
    m_keycode = keycode;
    if (refused) {
        ungrabX11();
        warn(QStringLiteral("Super+K is taken by another program; Add Stock\u2026 in the menu "
                            "still opens the quick-add panel"));
        finish(Backend::none);
        return false;
    }
    if (!m_filterInstalled) {
        QCoreApplication::instance()->installNativeEventFilter(this);
        m_filterInstalled = true;
    }
    finish(Backend::x11Grab);
    return true;
}

void GlobalHotKey::ungrabX11() {
    if (m_filterInstalled && QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
    m_filterInstalled = false;
    xcb_connection_t* c = m_root ? connection() : nullptr;
    if (c) {
        for (uint16_t variant : kLockVariants)
            xcb_ungrab_key(c, m_keycode, m_root, XCB_MOD_MASK_4 | variant);
        xcb_flush(c);
    }
    m_root = 0;
    m_keycode = 0;
}

bool GlobalHotKey::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (m_keycode == 0 || eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    const uint8_t type = event->response_type & ~0x80;
    if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE)
        return false;
    const auto* key = reinterpret_cast<const xcb_key_press_event_t*>(event);
    if (key->detail != m_keycode || key->event != m_root ||
        (key->state & kModifiers) != XCB_MOD_MASK_4)
        return false;
    if (type == XCB_KEY_RELEASE) {
        m_lastReleaseTime = key->time;
    } else if (key->time != m_lastReleaseTime) {
        // A held key repeats as release + press with one time stamp: only real presses count.
        fire();
    }
    return true;
}

// ---- desktop portal ----

void GlobalHotKey::bindPortal(const QDBusConnection& bus) {
    static const bool registered = [] {
        qDBusRegisterMetaType<PortalShortcut>();
        qDBusRegisterMetaType<QList<PortalShortcut>>();
        return true;
    }();
    Q_UNUSED(registered);
    m_bus = bus;
    // Newer portals learn the application id of a program outside a sandbox only from this
    // call, made before any other; older ones do not know it, which is fine.
    QDBusMessage registry = QDBusMessage::createMethodCall(
        kPortalService, kPortalPath, QStringLiteral("org.freedesktop.host.portal.Registry"),
        QStringLiteral("Register"));
    registry << QString::fromLatin1(buildinfo::kAppId) << QVariantMap();
    auto* named = new QDBusPendingCallWatcher(m_bus.asyncCall(registry), this);
    connect(named, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        probePortal();
    });
}

void GlobalHotKey::probePortal() {
    QDBusMessage probe = QDBusMessage::createMethodCall(
        kPortalService, kPortalPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    probe << kShortcutsInterface << QStringLiteral("version");
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(probe), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        if (w->isError()) {
            // No portal, or one without global shortcuts: the X grab still works while an X11
            // window has focus, and the README tells how to bind `velline --quick-add`.
            grabX11();
            return;
        }
        m_step = PortalStep::creatingSession;
        const QString token = QStringLiteral("velline%1").arg(++m_tokenCounter);
        portalRequest(QStringLiteral("CreateSession"), {},
                      {{QStringLiteral("session_handle_token"), token}});
    });
}

void GlobalHotKey::watchRequest(const QString& path) {
    if (path == m_requestPath)
        return;
    if (!m_requestPath.isEmpty()) {
        m_bus.disconnect(kPortalService, m_requestPath, kRequestInterface,
                         QStringLiteral("Response"), this, SLOT(portalResponse(uint, QVariantMap)));
    }
    m_requestPath = path;
    m_bus.connect(kPortalService, path, kRequestInterface, QStringLiteral("Response"), this,
                  SLOT(portalResponse(uint, QVariantMap)));
}

void GlobalHotKey::portalRequest(const QString& method, QList<QVariant> arguments,
                                 QVariantMap options) {
    const QString token = QStringLiteral("velline%1").arg(++m_tokenCounter);
    options.insert(QStringLiteral("handle_token"), token);
    // The answer may come before the call returns: listen on the path the portal will use.
    QString sender = m_bus.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    watchRequest(
        QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token));

    QDBusMessage call =
        QDBusMessage::createMethodCall(kPortalService, kPortalPath, kShortcutsInterface, method);
    arguments.append(options);
    call.setArguments(arguments);
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, method](QDBusPendingCallWatcher* w) {
                w->deleteLater();
                const QDBusPendingReply<QDBusObjectPath> reply = *w;
                if (reply.isError()) {
                    m_step = PortalStep::idle;
                    warn(QStringLiteral("the desktop portal refused the Super+K shortcut (%1: %2)")
                             .arg(method, reply.error().message()));
                    finish(Backend::none);
                    return;
                }
                watchRequest(reply.value().path());
            });
}

void GlobalHotKey::portalResponse(uint response, const QVariantMap& results) {
    if (response != 0) {
        const PortalStep step = m_step;
        m_step = PortalStep::idle;
        if (step != PortalStep::idle) {
            warn(QStringLiteral("the desktop portal refused the Super+K shortcut (answer %1)")
                     .arg(response));
            finish(Backend::none);
        }
        return;
    }
    switch (m_step) {
    case PortalStep::creatingSession: {
        // Older portals hand the handle over as a string, newer ones as an object path.
        const QVariant handle = results.value(QStringLiteral("session_handle"));
        m_sessionHandle = handle.canConvert<QDBusObjectPath>() &&
                                  handle.metaType() == QMetaType::fromType<QDBusObjectPath>()
                              ? handle.value<QDBusObjectPath>().path()
                              : handle.toString();
        if (m_sessionHandle.isEmpty()) {
            m_step = PortalStep::idle;
            warn(QStringLiteral("the desktop portal gave no shortcut session"));
            finish(Backend::none);
            return;
        }
        m_bus.connect(kPortalService, kPortalPath, kShortcutsInterface, QStringLiteral("Activated"),
                      this,
                      SLOT(portalActivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
        m_step = PortalStep::binding;
        const QList<PortalShortcut> shortcuts{
            {QString::fromLatin1(kShortcutId),
             {{QStringLiteral("description"), QString::fromLatin1(kDescription)},
              {QStringLiteral("preferred_trigger"), QString::fromLatin1(kPreferredTrigger)}}}};
        portalRequest(QStringLiteral("BindShortcuts"),
                      {QVariant::fromValue(QDBusObjectPath(m_sessionHandle)),
                       QVariant::fromValue(shortcuts), QString()},
                      {});
        break;
    }
    case PortalStep::binding:
        m_step = PortalStep::bound;
        finish(Backend::portal);
        break;
    case PortalStep::idle:
    case PortalStep::bound:
        break;
    }
}

void GlobalHotKey::portalActivated(const QDBusObjectPath& session, const QString& shortcut,
                                   qulonglong, const QVariantMap&) {
    if (m_step != PortalStep::bound || session.path() != m_sessionHandle ||
        shortcut != QLatin1String(kShortcutId))
        return;
    fire();
}

} // namespace velline
