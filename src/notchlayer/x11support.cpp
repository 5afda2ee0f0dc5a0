#include "notchlayer/x11support.h"

#include <QGuiApplication>
#include <QHash>
#include <QPointer>

#include <xcb/shape.h>
#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <sys/socket.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

namespace velline::x11 {

namespace {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <typename T> using Reply = std::unique_ptr<T, FreeDeleter>;

xcb_connection_t* connection() {
    auto* app = qGuiApp;
    if (!app)
        return nullptr;
    auto* x11 = app->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
    static QHash<QByteArray, xcb_atom_t> cache;
    const QByteArray key(name);
    if (auto it = cache.constFind(key); it != cache.cend())
        return *it;
    Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<uint16_t>(key.size()), key.constData()), nullptr));
    const xcb_atom_t a = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    if (a != XCB_ATOM_NONE)
        cache.insert(key, a);
    return a;
}

std::vector<xcb_atom_t> atomList(xcb_connection_t* c, xcb_window_t w, xcb_atom_t property) {
    std::vector<xcb_atom_t> atoms;
    Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        c, xcb_get_property(c, 0, w, property, XCB_ATOM_ATOM, 0, 1024), nullptr));
    if (reply && reply->format == 32 && reply->type == XCB_ATOM_ATOM) {
        const auto* data = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply.get()));
        atoms.assign(data, data + xcb_get_property_value_length(reply.get()) / 4);
    }
    return atoms;
}

std::vector<xcb_rectangle_t> toRectangles(const QRegion& region) {
    std::vector<xcb_rectangle_t> rects;
    rects.reserve(static_cast<size_t>(region.rectCount()));
    for (const QRect& r : region) {
        rects.push_back({static_cast<int16_t>(r.x()), static_cast<int16_t>(r.y()),
                         static_cast<uint16_t>(r.width()), static_cast<uint16_t>(r.height())});
    }
    return rects;
}

bool hasShapeExtension(xcb_connection_t* c) {
    const xcb_query_extension_reply_t* ext = xcb_get_extension_data(c, &xcb_shape_id);
    return ext && ext->present;
}

} // namespace

bool isAvailable() {
    return connection() != nullptr;
}

void prepareDockWindow(WId window) {
    xcb_connection_t* c = connection();
    if (!c || !window)
        return;
    const auto w = static_cast<xcb_window_t>(window);

    const xcb_atom_t dock = atom(c, "_NET_WM_WINDOW_TYPE_DOCK");
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, atom(c, "_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM,
                        32, 1, &dock);

    // Keep whatever states are already there; add ours.
    const xcb_atom_t stateAtom = atom(c, "_NET_WM_STATE");
    std::vector<xcb_atom_t> states = atomList(c, w, stateAtom);
    for (const char* name :
         {"_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER", "_NET_WM_STATE_STICKY"}) {
        const xcb_atom_t a = atom(c, name);
        if (std::find(states.begin(), states.end(), a) == states.end())
            states.push_back(a);
    }
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, stateAtom, XCB_ATOM_ATOM, 32,
                        static_cast<uint32_t>(states.size()), states.data());

    const uint32_t allDesktops = 0xFFFFFFFF;
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, atom(c, "_NET_WM_DESKTOP"), XCB_ATOM_CARDINAL,
                        32, 1, &allDesktops);
    xcb_flush(c);
}

void disableCompositorShadow(WId window) {
    xcb_connection_t* c = connection();
    if (!c || !window)
        return;
    const uint32_t none = 0;
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, static_cast<xcb_window_t>(window),
                        atom(c, "_COMPTON_SHADOW"), XCB_ATOM_CARDINAL, 32, 1, &none);
    xcb_flush(c);
}

bool coveredByManagedWindow(WId window) {
    xcb_connection_t* c = connection();
    if (!c || !window)
        return false;
    const auto w = static_cast<xcb_window_t>(window);
    Reply<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(c, xcb_get_geometry(c, w), nullptr));
    if (!geometry)
        return false;
    Reply<xcb_query_tree_reply_t> tree(
        xcb_query_tree_reply(c, xcb_query_tree(c, geometry->root), nullptr));
    if (!tree)
        return false;
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    const int count = xcb_query_tree_children_length(tree.get());
    // Children come bottom to top.
    const auto self = std::find(children, children + count, w);
    if (self == children + count)
        return false;
    std::vector<xcb_get_window_attributes_cookie_t> cookies;
    for (const xcb_window_t* above = self + 1; above != children + count; ++above)
        cookies.push_back(xcb_get_window_attributes(c, *above));
    bool covered = false;
    for (const auto& cookie : cookies) {
        Reply<xcb_get_window_attributes_reply_t> attributes(
            xcb_get_window_attributes_reply(c, cookie, nullptr));
        if (attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE &&
            !attributes->override_redirect)
            covered = true;
    }
    return covered;
}

void raiseWindow(WId window) {
    xcb_connection_t* c = connection();
    if (!c || !window)
        return;
    const uint32_t above = XCB_STACK_MODE_ABOVE;
    xcb_configure_window(c, static_cast<xcb_window_t>(window), XCB_CONFIG_WINDOW_STACK_MODE,
                         &above);
    xcb_flush(c);
}

void setInputRegion(WId window, const QRegion& region, Send send) {
    xcb_connection_t* c = connection();
    if (!c || !window || !hasShapeExtension(c))
        return;
    const auto rects = toRectangles(region);
    xcb_shape_rectangles(c, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_INPUT, XCB_CLIP_ORDERING_UNSORTED,
                         static_cast<xcb_window_t>(window), 0, 0,
                         static_cast<uint32_t>(rects.size()), rects.data());
    if (send == Send::Now)
        xcb_flush(c);
}

void flush() {
    if (xcb_connection_t* c = connection())
        xcb_flush(c);
}

int widenSendBuffer(int bytes) {
    xcb_connection_t* c = connection();
    if (!c)
        return 0;
    const int fd = xcb_get_file_descriptor(c);
    int size = 0;
    socklen_t length = sizeof size;
    if (getsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, &length) != 0)
        return 0;
    if (size >= bytes)
        return size;
    // The system caps the request at its limit, doubles it for its own bookkeeping, and
    // reports the doubled size.
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
    length = sizeof size;
    getsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, &length);
    return size;
}

void setBoundingRegion(WId window, const std::optional<QRegion>& region, Send send) {
    xcb_connection_t* c = connection();
    if (!c || !window || !hasShapeExtension(c))
        return;
    const auto w = static_cast<xcb_window_t>(window);
    if (!region) {
        xcb_shape_mask(c, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_BOUNDING, w, 0, 0, XCB_NONE);
    } else {
        const auto rects = toRectangles(*region);
        xcb_shape_rectangles(c, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_BOUNDING, XCB_CLIP_ORDERING_UNSORTED,
                             w, 0, 0, static_cast<uint32_t>(rects.size()), rects.data());
    }
    if (send == Send::Now)
        xcb_flush(c);
}

std::optional<Expose> exposeOf(const QByteArray& eventType, const void* message, WId window) {
    if (eventType != "xcb_generic_event_t" || !message || !window)
        return std::nullopt;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & ~0x80) != XCB_EXPOSE)
        return std::nullopt;
    const auto* expose = reinterpret_cast<const xcb_expose_event_t*>(event);
    if (expose->window != static_cast<xcb_window_t>(window))
        return std::nullopt;
    return Expose{QRect(expose->x, expose->y, expose->width, expose->height), expose->count > 0};
}

void sendExpose(WId window, const QRect& rect) {
    xcb_connection_t* c = connection();
    if (!c || !window)
        return;
    xcb_expose_event_t event{};
    event.response_type = XCB_EXPOSE;
    event.window = static_cast<xcb_window_t>(window);
    event.x = static_cast<uint16_t>(rect.x());
    event.y = static_cast<uint16_t>(rect.y());
    event.width = static_cast<uint16_t>(rect.width());
    event.height = static_cast<uint16_t>(rect.height());
    xcb_send_event(c, false, event.window, XCB_EVENT_MASK_EXPOSURE,
                   reinterpret_cast<const char*>(&event));
    xcb_flush(c);
}

QStringList atomListProperty(WId window, const char* property) {
    QStringList names;
    xcb_connection_t* c = connection();
    if (!c || !window)
        return names;
    for (xcb_atom_t a : atomList(c, static_cast<xcb_window_t>(window), atom(c, property))) {
        Reply<xcb_get_atom_name_reply_t> reply(
            xcb_get_atom_name_reply(c, xcb_get_atom_name(c, a), nullptr));
        if (reply) {
            names.append(QString::fromLatin1(xcb_get_atom_name_name(reply.get()),
                                             xcb_get_atom_name_name_length(reply.get())));
        }
    }
    return names;
}

// ---- stacking ----

StackingGuard::StackingGuard(QWindow* window) : m_window(window) {
    xcb_connection_t* c = connection();
    if (!c || !window)
        return;
    for (const char* name : {"_NET_CLIENT_LIST_STACKING", "_NET_ACTIVE_WINDOW", "_NET_CLIENT_LIST"})
        m_watched.push_back(atom(c, name));
    // Qt already listens to property changes of the root window (for the work area).
    QCoreApplication::instance()->installNativeEventFilter(this);
}

StackingGuard::~StackingGuard() {
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
}

bool StackingGuard::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (m_pending || eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & ~0x80) != XCB_PROPERTY_NOTIFY)
        return false;
    const auto* notify = reinterpret_cast<const xcb_property_notify_event_t*>(event);
    if (std::find(m_watched.begin(), m_watched.end(), notify->atom) == m_watched.end())
        return false;
    m_pending = true;
    QMetaObject::invokeMethod(this, &StackingGuard::restack, Qt::QueuedConnection);
    return false;
}

void StackingGuard::restack() {
    m_pending = false;
    if (!m_window || !m_window->isVisible() || !coveredByManagedWindow(m_window->winId()))
        return;
    raiseWindow(m_window->winId());
    ++m_raises;
    Q_EMIT raised();
}

// ---- compositor ----

CompositorWatcher* CompositorWatcher::instance() {
    // Lives until the application goes; the event filter dies with it.
    static QPointer<CompositorWatcher> watcher;
    if (!watcher && QCoreApplication::instance()) {
        watcher = new CompositorWatcher;
        watcher->setParent(QCoreApplication::instance());
    }
    return watcher;
}

CompositorWatcher::CompositorWatcher() {
    xcb_connection_t* c = connection();
    if (!c)
        return;
    int screenNumber = 0;
    const QByteArray display = qgetenv("DISPLAY");
    char* host = nullptr;
    int displayNumber = 0;
    if (xcb_parse_display(display.constData(), &host, &displayNumber, &screenNumber))
        std::free(host);
    m_selection = atom(c, QByteArray("_NET_WM_CM_S" + QByteArray::number(screenNumber)));

    const xcb_query_extension_reply_t* xfixes = xcb_get_extension_data(c, &xcb_xfixes_id);
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber && it.rem; ++i)
        xcb_screen_next(&it);
    if (xfixes && xfixes->present && it.rem) {
        Reply<xcb_xfixes_query_version_reply_t> version(xcb_xfixes_query_version_reply(
            c, xcb_xfixes_query_version(c, XCB_XFIXES_MAJOR_VERSION, XCB_XFIXES_MINOR_VERSION),
            nullptr));
        if (version) {
            m_xfixesEvent = xfixes->first_event + XCB_XFIXES_SELECTION_NOTIFY;
            xcb_xfixes_select_selection_input(
                c, it.data->root, m_selection,
                XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                    XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                    XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
            xcb_flush(c);
            QCoreApplication::instance()->installNativeEventFilter(this);
        }
    }
    m_active = queryOwner();
}

bool CompositorWatcher::queryOwner() const {
    xcb_connection_t* c = connection();
    if (!c || m_selection == XCB_ATOM_NONE)
        return true;
    Reply<xcb_get_selection_owner_reply_t> reply(
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, m_selection), nullptr));
    return reply && reply->owner != XCB_NONE;
}

bool CompositorWatcher::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (m_xfixesEvent < 0 || eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & ~0x80) != m_xfixesEvent)
        return false;
    const auto* notify = reinterpret_cast<const xcb_xfixes_selection_notify_event_t*>(event);
    if (notify->selection != m_selection)
        return false;
    const bool active = notify->owner != XCB_NONE;
    if (active != m_active) {
        m_active = active;
        Q_EMIT activeChanged(active);
    }
    return false; // Qt follows the same selection for its own purposes
}

} // namespace velline::x11
