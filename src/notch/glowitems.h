#pragma once

#include "notchlayer/blur.h"
#include "notchlayer/notchitems.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPointer>
#include <QQuickItemGrabResult>
#include <QQuickPaintedItem>
#include <QSharedPointer>
#include <QtQmlIntegration/qqmlintegration.h>

namespace velline {

// How far a glow of `radius` reaches beyond the shape that casts it.
int glowMargin(double radius);

// The soft glow of a number (a shadow with no offset): the text's shape, blurred, in `color`.
// The item is the text's size plus glowMargin(radius) on every side and draws the glyphs
// where a RollingText of the same font, centred on this item, draws them (tabular figures):
//   TextGlow { anchors.centerIn: label; text: label.text; font: label.font; radius: 5 }
// The blurred image is kept until the text, font or radius change; colour and opacity changes
// only repaint it.
class TextGlow : public ShownPaintedItem {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QString text READ text WRITE setText NOTIFY textChanged)
    Q_PROPERTY(QFont font READ font WRITE setFont NOTIFY fontChanged)
    Q_PROPERTY(QColor color READ color WRITE setColor NOTIFY colorChanged)
    Q_PROPERTY(qreal radius READ radius WRITE setRadius NOTIFY radiusChanged)

public:
    explicit TextGlow(QQuickItem* parent = nullptr);

    QString text() const { return m_text; }
    void setText(const QString& text);
    QFont font() const { return m_font; }
    void setFont(const QFont& font);
    QColor color() const { return m_color; }
    void setColor(const QColor& color);
    qreal radius() const { return m_radius; }
    void setRadius(qreal radius);

    void paint(QPainter* painter) override;

    // The blurred silhouette (alpha only) of `text` in `font` with room for `radius`.
    static QImage silhouette(const QString& text, const QFont& font, qreal radius);

Q_SIGNALS:
    void textChanged();
    void fontChanged();
    void colorChanged();
    void radiusChanged();

private:
    void invalidate();

    QString m_text;
    QFont m_font;
    QColor m_color = Qt::white;
    qreal m_radius = 3;
    QImage m_alpha;
    bool m_dirty = true;
};

// The soft glow of another item's drawing: `source` is rendered once on refresh(), its
// shape blurred and painted in `color`, glowMargin(radius) beyond its edges. Place it over
// the source (same centre); it repaints only on refresh() or a change of colour or radius.
class ItemGlow : public ShownPaintedItem {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QQuickItem* source READ source WRITE setSource NOTIFY sourceChanged)
    Q_PROPERTY(QColor color READ color WRITE setColor NOTIFY colorChanged)
    Q_PROPERTY(qreal radius READ radius WRITE setRadius NOTIFY radiusChanged)
    // True once a rendering of the source is in hand.
    Q_PROPERTY(bool ready READ ready NOTIFY readyChanged)

public:
    explicit ItemGlow(QQuickItem* parent = nullptr);

    QQuickItem* source() const { return m_source; }
    void setSource(QQuickItem* source);
    QColor color() const { return m_color; }
    void setColor(const QColor& color);
    qreal radius() const { return m_radius; }
    void setRadius(qreal radius);
    bool ready() const { return !m_shape.isNull(); }

    // Takes a fresh picture of the source (asynchronously, on the next frame).
    Q_INVOKABLE void refresh();
    // A picture asked for by refresh() has not arrived yet.
    bool isTakingPicture() const { return !m_grab.isNull(); }
    // Uses `image` (the source's rendering) as the picture; for tests and refresh().
    void setSourceImage(const QImage& image);

    void paint(QPainter* painter) override;

Q_SIGNALS:
    void sourceChanged();
    void colorChanged();
    void radiusChanged();
    void readyChanged();

private:
    void rebuild();

    QPointer<QQuickItem> m_source;
    QColor m_color = Qt::white;
    qreal m_radius = 10;
    QImage m_picture; // the source's rendering
    QImage m_shape;   // its alpha, blurred, with the margin
    // The picture being taken. Held here, not by the connection that waits for it: a result
    // that held itself alive through its own connection lived as long as this item, one more
    // picture of the view with every pulse.
    QSharedPointer<QQuickItemGrabResult> m_grab;
};

} // namespace velline
