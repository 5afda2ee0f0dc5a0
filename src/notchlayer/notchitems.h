#pragma once

#include "notchlayer/notchgeometry.h"
#include "notchlayer/notchtypes.h"

#include <QImage>
#include <QPainterPath>
#include <QPointer>
#include <QQuickItem>
#include <QQuickPaintedItem>
#include <QtQml/qqmlregistration.h>

#include <optional>

namespace velline {

// The outline of the notch (or of the floating pill) for the item's size. It hands the path to
// the drawing (svgPath, for a QtQuick.Shapes PathSvg) and the window's input region, so both
// always agree on where the notch is. Draws nothing itself.
class NotchOutline : public QQuickItem {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(qreal topCornerRadius READ topCornerRadius WRITE setTopCornerRadius NOTIFY
                   topCornerRadiusChanged)
    Q_PROPERTY(qreal bottomCornerRadius READ bottomCornerRadius WRITE setBottomCornerRadius NOTIFY
                   bottomCornerRadiusChanged)
    // A rounded rectangle of `cornerRadius` instead of the notch outline.
    Q_PROPERTY(bool pill READ pill WRITE setPill NOTIFY pillChanged)
    Q_PROPERTY(
        qreal cornerRadius READ cornerRadius WRITE setCornerRadius NOTIFY cornerRadiusChanged)
    // The outline is drawn this far inside the item's left and right edges.
    Q_PROPERTY(qreal horizontalInset READ horizontalInset WRITE setHorizontalInset NOTIFY
                   horizontalInsetChanged)
    Q_PROPERTY(QString svgPath READ svgPath NOTIFY pathChanged)
    // The largest rectangle inside the outline, in item coordinates: content clipped to it
    // never shows outside the drawn shape.
    Q_PROPERTY(QRectF contentRect READ contentRect NOTIFY pathChanged)
public:
    explicit NotchOutline(QQuickItem* parent = nullptr);
    ~NotchOutline() override;

    qreal topCornerRadius() const { return m_top; }
    void setTopCornerRadius(qreal r);
    qreal bottomCornerRadius() const { return m_bottom; }
    void setBottomCornerRadius(qreal r);
    bool pill() const { return m_pill; }
    void setPill(bool pill);
    qreal cornerRadius() const { return m_corner; }
    void setCornerRadius(qreal r);
    qreal horizontalInset() const { return m_inset; }
    void setHorizontalInset(qreal inset);

    // In item coordinates.
    QPainterPath path() const { return m_path; }
    // Written out when first read after a change: the software scene graph never reads it.
    QString svgPath() const;
    QRectF contentRect() const { return m_contentRect; }

Q_SIGNALS:
    void topCornerRadiusChanged();
    void bottomCornerRadiusChanged();
    void pillChanged();
    void cornerRadiusChanged();
    void horizontalInsetChanged();
    void pathChanged();

protected:
    void geometryChange(const QRectF& newGeometry, const QRectF& oldGeometry) override;
    void itemChange(ItemChange change, const ItemChangeData& value) override;

private:
    QRectF outlineRect() const;
    void rebuild();
    void report();
    void reportChanged();
    void reportSoon();

    qreal m_top = 0;
    qreal m_bottom = 0;
    bool m_pill = false;
    qreal m_corner = 0;
    qreal m_inset = 0;
    QPainterPath m_path;
    QList<notchgeometry::PathElement> m_outline;
    mutable QString m_svg;
    mutable bool m_svgStale = false;
    QRectF m_contentRect;
    // What the panel was last told: the outline's place in the window, or nothing when hidden.
    // The check after every animated frame tells it again only when that moved.
    std::optional<QPointF> m_reportedAt;
    bool m_reported = false;
    QPointer<QQuickWindow> m_window;
    QMetaObject::Connection m_frameConnection;
};

// An area over the panel that stays visible outside the notch (a tool tip, a popup). Without
// a compositor the panel shows only the notch; it shows these areas too, as rounded
// rectangles of `radius`, while they are visible. They take no pointer input.
class NotchOverlayArea : public QQuickItem {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(qreal radius READ radius WRITE setRadius NOTIFY radiusChanged)
public:
    explicit NotchOverlayArea(QQuickItem* parent = nullptr);
    ~NotchOverlayArea() override;

    qreal radius() const { return m_radius; }
    void setRadius(qreal r);

Q_SIGNALS:
    void radiusChanged();

protected:
    void geometryChange(const QRectF& newGeometry, const QRectF& oldGeometry) override;
    void itemChange(ItemChange change, const ItemChangeData& value) override;

private:
    void report();
    void withdraw();

    qreal m_radius = 0;
    QPointer<QQuickWindow> m_window;
    QMetaObject::Connection m_frameConnection;
};

// A painted item that paints only while it is on screen. Qt Quick repaints a painted item on
// every update() even while it, or an item it sits in, is hidden: a hidden glow or chart would
// redraw its whole image at every frame of whatever moves beside it. Changes made while hidden
// are painted once, when the item shows again.
class ShownPaintedItem : public QQuickPaintedItem {
    Q_OBJECT
    QML_ANONYMOUS
public:
    using QQuickPaintedItem::QQuickPaintedItem;

    // Whether a change made while hidden is still to be painted.
    bool hasPendingPaint() const { return m_pending; }

protected:
    QSGNode* updatePaintNode(QSGNode* node, UpdatePaintNodeData* data) override;
    void itemChange(ItemChange change, const ItemChangeData& value) override;

private:
    bool m_pending = false;
};

// A soft shadow of an outline: the shape, blurred, in black. The blurred image is kept until
// the outline or the radius changes; the item's opacity sets the shadow's strength. Place it
// over the outline's item; it draws `radius` beyond each edge. `composited` tells whether a
// compositor blends it in: without one the panel shows only the outline itself, so a view
// hides the shadow then rather than blur it again at every step of the outline.
class NotchGlow : public ShownPaintedItem {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(velline::NotchOutline* source READ source WRITE setSource NOTIFY sourceChanged)
    Q_PROPERTY(bool composited READ isComposited NOTIFY compositedChanged)
    Q_PROPERTY(qreal radius READ radius WRITE setRadius NOTIFY radiusChanged)
    Q_PROPERTY(QColor color READ color WRITE setColor NOTIFY colorChanged)
public:
    explicit NotchGlow(QQuickItem* parent = nullptr);

    NotchOutline* source() const { return m_source; }
    void setSource(NotchOutline* source);
    qreal radius() const { return m_radius; }
    void setRadius(qreal r);
    QColor color() const { return m_color; }
    void setColor(const QColor& c);
    bool isComposited() const;

    void paint(QPainter* painter) override;

    // `path` filled, blurred by a Gaussian of standard deviation `radius` / 2, in an image
    // `margin` larger on every side; `scale` shrinks the work for large radii.
    static QImage blurredSilhouette(const QPainterPath& path, qreal radius, qreal scale,
                                    const QColor& color);

Q_SIGNALS:
    void sourceChanged();
    void radiusChanged();
    void colorChanged();
    void compositedChanged();

private:
    void invalidate();

    QPointer<NotchOutline> m_source;
    qreal m_radius = 10;
    QColor m_color = Qt::black;
    QImage m_cache;
    bool m_dirty = true;
};

// What a content view learns about the slot it is drawn in, as attached properties on its root
// item: NotchEnvironment.section, .isExpanded ..., and the resolved style.
class NotchEnvironment : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("NotchEnvironment is an attached property")
    QML_ATTACHED(velline::NotchEnvironment)
    Q_PROPERTY(velline::NotchEnvironment::Section section READ section NOTIFY changed)
    Q_PROPERTY(bool isExpanded READ isExpanded NOTIFY changed)
    Q_PROPERTY(bool isCompactLeading READ isCompactLeading NOTIFY changed)
    Q_PROPERTY(bool isCompactTrailing READ isCompactTrailing NOTIFY changed)
    Q_PROPERTY(velline::NotchStyle style READ style NOTIFY changed)
public:
    // The slots, as QML sees them (same order as NotchSection).
    enum Section { Expanded, CompactLeading, CompactTrailing };
    Q_ENUM(Section)

    explicit NotchEnvironment(QObject* parent = nullptr) : QObject(parent) {}
    static NotchEnvironment* qmlAttachedProperties(QObject* object);

    Section section() const { return m_section; }
    NotchSection notchSection() const { return static_cast<NotchSection>(m_section); }
    bool isExpanded() const { return m_section == Expanded; }
    bool isCompactLeading() const { return m_section == CompactLeading; }
    bool isCompactTrailing() const { return m_section == CompactTrailing; }
    NotchStyle style() const { return m_style; }
    void set(Section section, const NotchStyle& style);

Q_SIGNALS:
    void changed();

private:
    Section m_section = Expanded;
    NotchStyle m_style;
};

// Hosts one of the controller's content items inside a panel. The item is borrowed: it is
// reparented here, sized to the slot, and handed back (unparented) when the slot goes, so the
// same item survives every rebuild of the panel. The slot's implicit size is the content's.
class NotchContentSlot : public QQuickItem {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QQuickItem* content READ content WRITE setContent NOTIFY contentChanged)
    Q_PROPERTY(velline::NotchEnvironment::Section section READ section WRITE setSection NOTIFY
                   sectionChanged)
    Q_PROPERTY(velline::NotchStyle style READ style WRITE setStyle NOTIFY styleChanged)
public:
    explicit NotchContentSlot(QQuickItem* parent = nullptr);
    ~NotchContentSlot() override;

    QQuickItem* content() const { return m_content; }
    void setContent(QQuickItem* content);
    NotchEnvironment::Section section() const { return m_section; }
    void setSection(NotchEnvironment::Section section);
    NotchStyle style() const { return m_style; }
    void setStyle(const NotchStyle& style);

Q_SIGNALS:
    void contentChanged();
    void sectionChanged();
    void styleChanged();

protected:
    void geometryChange(const QRectF& newGeometry, const QRectF& oldGeometry) override;

private:
    void release();
    void updateImplicitSize();
    void layoutContent();
    void publishEnvironment();

    QPointer<QQuickItem> m_content;
    QSizeF m_givenSize;
    bool m_followsImplicitSize = false;
    NotchEnvironment::Section m_section = NotchEnvironment::Expanded;
    NotchStyle m_style;
    QList<QMetaObject::Connection> m_connections;
};

} // namespace velline
