#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <QRegion>
#include <QWindow>

#include <QPointer>

#include <optional>
#include <vector>

// The few X11 calls the notch panel needs beyond what Qt offers. Every function does nothing
// when the application does not run on X11 (offscreen tests, other platforms).
namespace velline::x11 {

bool isAvailable();

// Marks a created, not yet mapped window as a dock (_NET_WM_WINDOW_TYPE_DOCK) that stays out of
// the task bar and pager and shows on every workspace (_NET_WM_STATE_SKIP_TASKBAR, _SKIP_PAGER,
// _STICKY, _NET_WM_DESKTOP all).
void prepareDockWindow(WId window);

// Asks compositors not to draw their own shadow around `window` (_COMPTON_SHADOW 0, which
// picom and its forks read): a shadow around a mostly transparent window frames all of it.
void disableCompositorShadow(WId window);

// Whether a window the window manager manages (mapped, not override-redirect) is stacked
// above the top-level `window`.
bool coveredByManagedWindow(WId window);
// Puts the top-level `window` above all its siblings.
void raiseWindow(WId window);

// When a request goes out to the X server: at once, or with the next one sent at once (two
// requests of one change in one write).
enum class Send { Now, WithNext };
// Input region of a window, in device pixels: pointer events outside it go to the windows
// below. An empty region lets every event through.
void setInputRegion(WId window, const QRegion& region, Send send = Send::Now);
// Bounding (visible) region of a window, in device pixels; nullopt removes the shape. Unlike
// QWindow::setMask, an empty region here really hides the whole window.
void setBoundingRegion(WId window, const std::optional<QRegion>& region, Send send = Send::Now);
// Sends what is waiting to go to the X server (nothing to do when nothing waits).
void flush();

// Lets the X connection hold `bytes` of requests the server has not read yet, as far as the
// system allows (net.core.wmem_max), and returns the send buffer it has then (0 without X).
// A frame goes out as one image request; once a quarter of the socket's buffer waits unread,
// the socket reports itself full, and the next request of the frame sleeps until the server
// has read the picture: a second wake-up for every large frame.
int widenSendBuffer(int bytes);

// An Expose event of `window` in a native event handed to a filter: the rectangle in device
// pixels and whether more rectangles of the same series follow.
struct Expose {
    QRect rect;
    bool more = false;
};
std::optional<Expose> exposeOf(const QByteArray& eventType, const void* message, WId window);

// Sends `window` an Expose event for `rect` (device pixels), as the server would (for tests).
void sendExpose(WId window, const QRect& rect);

// Reads back a window property as atom names (for tests and diagnostics).
QStringList atomListProperty(WId window, const char* property);

// Keeps a window the window manager does not manage (override-redirect) above the windows it
// does manage: whenever the manager restacks, activates or adds a window (the root's
// _NET_CLIENT_LIST_STACKING, _NET_ACTIVE_WINDOW and _NET_CLIENT_LIST change), the window is
// raised again if one of them now covers it. Menus, tool tips and other unmanaged windows may
// still open above it. Several changes in one turn of the event loop cost one look.
class StackingGuard : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT
public:
    explicit StackingGuard(QWindow* window);
    ~StackingGuard() override;

    // Times the window was raised because something covered it.
    int raises() const { return m_raises; }
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

Q_SIGNALS:
    void raised();

private:
    void restack();

    QPointer<QWindow> m_window;
    std::vector<unsigned> m_watched;
    bool m_pending = false;
    int m_raises = 0;
};

// Tracks whether a compositing manager runs: the owner of the _NET_WM_CM_S<n> selection of the
// default X screen, followed through XFixes selection events. Without X11 it reports a
// compositor, since transparency is then the platform's business.
class CompositorWatcher : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT
public:
    static CompositorWatcher* instance();

    bool isActive() const { return m_active; }
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

Q_SIGNALS:
    void activeChanged(bool active);

private:
    CompositorWatcher();
    bool queryOwner() const;

    bool m_active = true;
    unsigned m_selection = 0;
    int m_xfixesEvent = -1;
};

} // namespace velline::x11
