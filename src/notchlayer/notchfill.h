#pragma once

#include "notchlayer/notchitems.h"

#include <QColor>
#include <QPointer>
#include <QQuickItem>
#include <QtQml/qqmlregistration.h>

#include <optional>

namespace velline {

// Fills the notch outline of `outline` in one colour. On the software scene graph it asks for
// a frame only when the path, the colour or its sub-pixel place change, so an outline that
// moves with an animation costs one frame per animation step: in such a frame the path is
// painted straight into the window. In the first frame after one where the outline stood
// still, the path is laid into an image on the device pixels it covers, and from then on a
// frame that changes something drawn over the notch repaints only what changed. (A QtQuick.Shapes
// item re-reads its path while the frame is being prepared and then asks for a second frame after
// every step.) Other scene graphs (isSupported() is false) keep drawing the outline with
// QtQuick.Shapes.
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
    void itemChange(ItemChange change, const ItemChangeData& data) override;

private:
    // What the drawn image depends on besides the path and the colour.
    struct Placement {
        qreal dpr = 1;
        int subX = 0; // 256ths of a device pixel
        int subY = 0;
        bool aligned = true; // no scale or turn between the item and the window
        bool operator==(const Placement&) const = default;
    };
    Placement placement() const;
    void reshape();
    void followPlace();

    // The path, the colour or the place changed since the last frame.
    bool m_reshaped = true;
    // The last frame painted the path straight into the window.
    bool m_painting = false;
    // Where the image shown was laid (none while the path is painted).
    std::optional<Placement> m_drawn;
    QMetaObject::Connection m_frameConnection;
    QPointer<NotchOutline> m_outline;
    QMetaObject::Connection m_pathConnection;
    QColor m_color = Qt::black;
};

} // namespace velline
