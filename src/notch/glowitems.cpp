#include "notch/glowitems.h"

#include "notch/notchformat.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QQuickItemGrabResult>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace velline {

namespace {

QImage tinted(const QImage& alpha, const QColor& color) {
    QImage out(alpha.size(), QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::transparent);
    QPainter p(&out);
    p.drawImage(0, 0, alpha);
    p.setCompositionMode(QPainter::CompositionMode_SourceIn);
    p.fillRect(out.rect(), color);
    return out;
}

// Rows of a silhouette filled at a time (see TextGlow::silhouette).
constexpr int silhouetteBandRows = 8;

} // namespace

int glowMargin(double radius) {
    return radius > 0 ? static_cast<int>(std::ceil(radius * 1.5)) : 0;
}

// ---- TextGlow ----

TextGlow::TextGlow(QQuickItem* parent) : ShownPaintedItem(parent) {
    setAntialiasing(true);
}

void TextGlow::setText(const QString& text) {
    if (text == m_text)
        return;
    m_text = text;
    invalidate();
    Q_EMIT textChanged();
}

void TextGlow::setFont(const QFont& font) {
    if (font == m_font)
        return;
    m_font = font;
    invalidate();
    Q_EMIT fontChanged();
}

void TextGlow::setColor(const QColor& color) {
    if (color == m_color)
        return;
    m_color = color;
    update();
    Q_EMIT colorChanged();
}

void TextGlow::setRadius(qreal radius) {
    if (radius == m_radius)
        return;
    m_radius = radius;
    invalidate();
    Q_EMIT radiusChanged();
}

void TextGlow::invalidate() {
    m_dirty = true;
    const QFontMetricsF metrics(m_font);
    const int margin = glowMargin(m_radius);
    setImplicitSize(std::ceil(tabularPositions(m_text, m_font).last()) + 2 * margin,
                    std::ceil(metrics.height()) + 2 * margin);
    update();
}

QImage TextGlow::silhouette(const QString& text, const QFont& font, qreal radius) {
    const QFontMetricsF metrics(font);
    const int margin = glowMargin(radius);
    const QSize size(static_cast<int>(std::ceil(tabularPositions(text, font).last())) + 2 * margin,
                     static_cast<int>(std::ceil(metrics.height())) + 2 * margin);
    QImage alpha(size.expandedTo(QSize(1, 1)), QImage::Format_Alpha8);
    alpha.fill(0);
    {
        // A character at a time, in bands of a few rows: the raster engine hands a fill of more
        // than about a hundred spans to its thread pool, which woke two threads at every flash
        // (the whole line of a price is several hundred spans). The characters' cells do not
        // overlap and a band's clip cuts whole rows, so the pixels are those of one fill.
        QPainter p(&alpha);
        p.setRenderHint(QPainter::Antialiasing);
        for (const QPainterPath& character :
             tabularCharacterPaths(text, font, QPointF(margin, margin + metrics.ascent()))) {
            const QRect bounds = character.boundingRect().toAlignedRect();
            for (int top = bounds.top(); top <= bounds.bottom(); top += silhouetteBandRows) {
                p.setClipRect(QRect(0, top, alpha.width(), silhouetteBandRows));
                p.fillPath(character, Qt::black);
            }
        }
    }
    blurAlpha(alpha, radius / 2);
    return alpha;
}

void TextGlow::paint(QPainter* painter) {
    if (m_text.isEmpty() || m_color.alpha() == 0)
        return;
    if (m_dirty) {
        m_alpha = silhouette(m_text, m_font, m_radius);
        m_dirty = false;
    }
    // Centred like the text it belongs to, whatever size the item was given.
    const QPointF at((width() - m_alpha.width()) / 2, (height() - m_alpha.height()) / 2);
    painter->drawImage(at, tinted(m_alpha, m_color));
}

// ---- ItemGlow ----

ItemGlow::ItemGlow(QQuickItem* parent) : ShownPaintedItem(parent) {}

void ItemGlow::setSource(QQuickItem* source) {
    if (source == m_source)
        return;
    m_source = source;
    Q_EMIT sourceChanged();
}

void ItemGlow::setColor(const QColor& color) {
    if (color == m_color)
        return;
    m_color = color;
    update();
    Q_EMIT colorChanged();
}

void ItemGlow::setRadius(qreal radius) {
    if (radius == m_radius)
        return;
    m_radius = radius;
    rebuild();
    Q_EMIT radiusChanged();
}

void ItemGlow::refresh() {
    if (!m_source || !m_source->window() || m_source->width() < 1 || m_source->height() < 1)
        return;
    const QSize size(static_cast<int>(std::ceil(m_source->width())),
                     static_cast<int>(std::ceil(m_source->height())));
    // A picture still on its way is dropped with its result (and its connection).
    m_grab = m_source->grabToImage(size);
    if (!m_grab)
        return;
    connect(m_grab.data(), &QQuickItemGrabResult::ready, this, [this, grab = m_grab.data()] {
        if (m_grab.data() != grab)
            return;
        const QImage picture = m_grab->image();
        // Let go of the result once its signal has returned.
        QMetaObject::invokeMethod(
            this, [done = std::exchange(m_grab, {})] {}, Qt::QueuedConnection);
        setSourceImage(picture);
    });
}

void ItemGlow::setSourceImage(const QImage& image) {
    m_picture = image;
    rebuild();
}

void ItemGlow::rebuild() {
    const bool wasReady = ready();
    if (m_picture.isNull()) {
        m_shape = QImage();
    } else {
        const int margin = glowMargin(m_radius);
        // Large blurs lose nothing at half resolution and cost a quarter of the work.
        const double scale = m_radius >= 6 ? 0.5 : 1.0;
        const QSize size((m_picture.width() + 2 * margin) * scale,
                         (m_picture.height() + 2 * margin) * scale);
        QImage alpha(size.expandedTo(QSize(1, 1)), QImage::Format_Alpha8);
        alpha.fill(0);
        {
            QPainter p(&alpha);
            p.setRenderHint(QPainter::SmoothPixmapTransform);
            p.scale(scale, scale);
            p.drawImage(QPointF(margin, margin), m_picture);
        }
        blurAlpha(alpha, m_radius / 2 * scale);
        m_shape = alpha;
    }
    const int margin = glowMargin(m_radius);
    setImplicitSize(m_picture.isNull() ? 0 : m_picture.width() + 2.0 * margin,
                    m_picture.isNull() ? 0 : m_picture.height() + 2.0 * margin);
    if (wasReady != ready())
        Q_EMIT readyChanged();
    update();
}

void ItemGlow::paint(QPainter* painter) {
    if (m_shape.isNull() || m_color.alpha() == 0)
        return;
    const int margin = glowMargin(m_radius);
    const QSizeF full(m_picture.width() + 2.0 * margin, m_picture.height() + 2.0 * margin);
    const QRectF target(QPointF((width() - full.width()) / 2, (height() - full.height()) / 2),
                        full);
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    painter->drawImage(target, tinted(m_shape, m_color));
}

} // namespace velline
