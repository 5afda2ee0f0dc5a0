#pragma once

#include "notchlayer/notchitems.h"

#include <QColor>
#include <QPointer>
#include <QQuickItem>
#include <QtQml/qqmlregistration.h>

namespace velline {

// Fills the notch outline of `outline` in one colour. On the software scene graph it paints
// the path straight into the window when a frame is drawn and asks for a frame only when the
// path or the colour change; an outline that moves with an animation so costs one frame per
// animation step. (A QtQuick.Shapes item re-reads its path while the frame is being prepared
// and then asks for a second frame after every step.) Other scene graphs (isSupported() is
// false) keep drawing the outline with QtQuick.Shapes.
class NotchFill : public QQuickItem {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(velline::NotchOutline* outline READ outline WRITE setOutline NOTIFY outlineChanged)
    Q_PROPERTY(QColor color READ color WRITE setColor NOTIFY colorChanged)
    Q_PROPERTY(bool supported READ isSupported CONSTANT)

public:
    explicit NotchFill(QQuickItem* parent = nullptr);
    ~NotchFill() override;

    NotchOutline* outline() const { return m_outline; }
    void setOutline(NotchOutline* outline);
    QColor color() const { return m_color; }
    void setColor(const QColor& color);

    // Whether the scene graph in use paints with QPainter (the software one).
    static bool isSupported();

Q_SIGNALS:
    void outlineChanged();
    void colorChanged();

protected:
    QSGNode* updatePaintNode(QSGNode* node, UpdatePaintNodeData*) override;

private:
    QPointer<NotchOutline> m_outline;
    QMetaObject::Connection m_pathConnection;
    QColor m_color = Qt::black;
};

} // namespace velline
