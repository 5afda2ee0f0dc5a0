#include "input/trackpadswipe.h"

#include <QQuickWindow>

namespace velline {

TrackpadSwipe::TrackpadSwipe(QQuickItem* parent) : QQuickItem(parent) {
    setFlag(ItemHasContents, false);
    setAcceptedMouseButtons(Qt::NoButton);
    connect(this, &QQuickItem::windowChanged, this, &TrackpadSwipe::updateAttachment);
    connect(this, &QQuickItem::visibleChanged, this, &TrackpadSwipe::updateAttachment);
}

void TrackpadSwipe::updateAttachment() {
    QQuickWindow* target = isVisible() ? window() : nullptr;
    const bool wasAttached = m_monitor.isAttached();
    if (target && m_monitor.window() == target)
        return;
    if (target) {
        // The handler only emits; whatever is connected to swiped now is what runs.
        m_monitor.attach(target, [this](SwipeDirection direction) { Q_EMIT swiped(direction); });
    } else {
        m_monitor.detach();
    }
    if (wasAttached != m_monitor.isAttached())
        Q_EMIT attachedChanged();
}

} // namespace velline
