#pragma once

#include "input/trackpadswipemonitor.h"
#include "state/swipedirection.h"

#include <QQuickItem>
#include <QtQml/qqmlregistration.h>

namespace velline {

// Placed inside a view (it takes no space and draws nothing), it reports two-finger horizontal
// swipes over the window that shows the view:
//
//     TrackpadSwipe { onSwiped: direction => AppState.swipe(direction) }
//
// It watches the window while it is in one and visible, and stops when it leaves the window or
// is hidden; coming back starts a fresh gesture. The newest onSwiped handler is always the one
// called.
class TrackpadSwipe : public QQuickItem {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(bool attached READ isAttached NOTIFY attachedChanged)

public:
    explicit TrackpadSwipe(QQuickItem* parent = nullptr);

    bool isAttached() const { return m_monitor.isAttached(); }
    TrackpadSwipeMonitor* monitor() { return &m_monitor; }

Q_SIGNALS:
    void swiped(velline::carousel::SwipeDirection direction);
    void attachedChanged();

private:
    void updateAttachment();

    TrackpadSwipeMonitor m_monitor;
};

} // namespace velline
