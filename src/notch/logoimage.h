#pragma once

#include "notchlayer/notchitems.h"

#include <QPointer>
#include <QQuickPaintedItem>
#include <QtQmlIntegration/qqmlintegration.h>

namespace velline {

class LogoCache;

// The cached logo of a symbol, stretched to the item and clipped to a rounded square. Draws
// nothing (hasImage false) until the logo is in the cache; it appears by itself when it
// arrives. Asks the cache for the logo when it comes on screen.
class LogoImage : public ShownPaintedItem {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QString symbol READ symbol WRITE setSymbol NOTIFY symbolChanged)
    Q_PROPERTY(
        qreal cornerRadius READ cornerRadius WRITE setCornerRadius NOTIFY cornerRadiusChanged)
    Q_PROPERTY(bool hasImage READ hasImage NOTIFY hasImageChanged)

public:
    // Without a cache the shared one is used.
    explicit LogoImage(QQuickItem* parent = nullptr);
    LogoImage(LogoCache* cache, QQuickItem* parent);

    QString symbol() const { return m_symbol; }
    void setSymbol(const QString& symbol);
    qreal cornerRadius() const { return m_radius; }
    void setCornerRadius(qreal radius);
    bool hasImage() const { return m_hasImage; }

    void paint(QPainter* painter) override;

Q_SIGNALS:
    void symbolChanged();
    void cornerRadiusChanged();
    void hasImageChanged();

protected:
    void componentComplete() override;
    void itemChange(ItemChange change, const ItemChangeData& value) override;

private:
    LogoCache* cache() const;
    void reload();

    QPointer<LogoCache> m_cache;
    QString m_symbol;
    qreal m_radius = 0;
    bool m_hasImage = false;
};

} // namespace velline
