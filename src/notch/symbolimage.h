#pragma once

#include "notchlayer/notchitems.h"

#include <QColor>
#include <QPainterPath>
#include <QQuickPaintedItem>
#include <QtQmlIntegration/qqmlintegration.h>

namespace velline {

// A named symbol image ("arrow.up", "gearshape.fill" ...) at a text size, weight and colour,
// drawn as one shape filled once, so a translucent colour is applied exactly once. The arrows
// are drawn as strokes laid on the device pixel grid, so they stay crisp at small sizes; the
// other symbols come from the icon font, thickened for heavy weights. A two-colour symbol draws
// its back layer in `secondaryColor` when one is given, and its front layer over it.
class SymbolImage : public ShownPaintedItem {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QString name READ name WRITE setName NOTIFY nameChanged)
    Q_PROPERTY(qreal pointSize READ pointSize WRITE setPointSize NOTIFY pointSizeChanged)
    // A QFont weight (Font.Normal ... Font.Black).
    Q_PROPERTY(int weight READ weight WRITE setWeight NOTIFY weightChanged)
    Q_PROPERTY(QColor color READ color WRITE setColor NOTIFY colorChanged)
    Q_PROPERTY(QColor secondaryColor READ secondaryColor WRITE setSecondaryColor NOTIFY
                   secondaryColorChanged)
    // True when the symbol is drawn in two colours.
    Q_PROPERTY(bool layered READ layered NOTIFY layeredChanged)

public:
    explicit SymbolImage(QQuickItem* parent = nullptr);

    QString name() const { return m_name; }
    void setName(const QString& name);
    qreal pointSize() const { return m_pointSize; }
    void setPointSize(qreal points);
    int weight() const { return m_weight; }
    void setWeight(int weight);
    QColor color() const { return m_color; }
    void setColor(const QColor& color);
    QColor secondaryColor() const { return m_secondary; }
    void setSecondaryColor(const QColor& color);
    bool layered() const;

    void paint(QPainter* painter) override;

    // Width of a symbol's strokes in points, by text size and weight.
    static qreal strokeWidth(qreal points, int weight);
    // The shapes a symbol is filled with, in a box of `box` (item coordinates) at `dpr` device
    // pixels per point: the front layer (or the only one), and, drawn `twoColours`, the back
    // layer of a two-colour symbol (else empty). Empty for an unknown name.
    struct Layers {
        QPainterPath front;
        QPainterPath back;
    };
    static Layers shapes(const QString& name, qreal points, int weight, const QSizeF& box,
                         qreal dpr, bool twoColours);

Q_SIGNALS:
    void nameChanged();
    void pointSizeChanged();
    void weightChanged();
    void colorChanged();
    void secondaryColorChanged();
    void layeredChanged();

protected:
    void itemChange(ItemChange change, const ItemChangeData& value) override;
    void geometryChange(const QRectF& newGeometry, const QRectF& oldGeometry) override;

private:
    void invalidate();

    QString m_name;
    qreal m_pointSize = 13;
    int m_weight = 400;
    QColor m_color = Qt::white;
    QColor m_secondary = Qt::transparent;
    Layers m_layers;
    qreal m_layersDpr = 0;
    bool m_dirty = true;
};

} // namespace velline
