#include "notch/logoimage.h"

#include "notch/logocache.h"

#include <QPainter>
#include <QPainterPath>

namespace velline {

LogoImage::LogoImage(QQuickItem* parent) : LogoImage(nullptr, parent) {}

LogoImage::LogoImage(LogoCache* cache, QQuickItem* parent)
    : ShownPaintedItem(parent), m_cache(cache) {
    setAntialiasing(true);
    connect(this->cache(), &LogoCache::logoArrived, this, [this](const QString& key) {
        if (key == m_symbol.toUpper())
            reload();
    });
}

LogoCache* LogoImage::cache() const {
    return m_cache ? m_cache.data() : &LogoCache::shared();
}

void LogoImage::setSymbol(const QString& symbol) {
    if (symbol == m_symbol)
        return;
    m_symbol = symbol;
    reload();
    if (isComponentComplete() && isVisible())
        cache()->prefetch(m_symbol);
    Q_EMIT symbolChanged();
}

void LogoImage::setCornerRadius(qreal radius) {
    if (radius == m_radius)
        return;
    m_radius = radius;
    update();
    Q_EMIT cornerRadiusChanged();
}

void LogoImage::componentComplete() {
    QQuickPaintedItem::componentComplete();
    reload();
    if (isVisible())
        cache()->prefetch(m_symbol);
}

void LogoImage::itemChange(ItemChange change, const ItemChangeData& value) {
    // Coming on screen is when a logo that failed before gets another try.
    if (change == ItemVisibleHasChanged && value.boolValue && isComponentComplete())
        cache()->prefetch(m_symbol);
    ShownPaintedItem::itemChange(change, value);
}

void LogoImage::reload() {
    const bool has = !m_symbol.isEmpty() && cache()->hasLogo(m_symbol);
    if (has != m_hasImage) {
        m_hasImage = has;
        Q_EMIT hasImageChanged();
    }
    update();
}

void LogoImage::paint(QPainter* painter) {
    if (!m_hasImage)
        return;
    const QImage image = cache()->image(m_symbol);
    if (image.isNull())
        return;
    const QRectF box(0, 0, width(), height());
    QPainterPath clip;
    clip.addRoundedRect(box, m_radius, m_radius);
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    painter->setClipPath(clip);
    painter->drawImage(box, image);
}

} // namespace velline
