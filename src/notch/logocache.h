#pragma once

#include "clock/clock.h"

#include <QHash>
#include <QImage>
#include <QMutex>
#include <QObject>
#include <QQuickImageProvider>
#include <QSet>
#include <QUrl>
#include <QtQmlIntegration/qqmlintegration.h>

#include <optional>

class QNetworkAccessManager;
class QQmlEngine;
class QJSEngine;

namespace velline {

// Process-wide store of company logos. Each logo is downloaded at most once at a time and
// kept for the life of the process; a failed download is not remembered, so the next
// prefetch tries again. Views show a logo through the image provider (image://logo/SYMBOL)
// and re-read logoSource() whenever `revision` changes.
class LogoCache : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    // Grows by one with every logo that arrives; bind to it to pick up new images.
    Q_PROPERTY(int revision READ revision NOTIFY imagesChanged)

public:
    // Longest a single logo download may take before it is given up (and may be retried).
    static constexpr double downloadTimeoutSeconds = 30.0;
    // Scheme-less name the image provider is registered under.
    static constexpr const char* providerId = "logo";
    // Logos are kept at most this many pixels wide and high: the largest one drawn is 26
    // points, so this is sharp up to three device pixels a point, and a logo service's large
    // pictures do not sit in memory at full size for the life of the program.
    static constexpr int maxLogoPixels = 80;

    // `prefix` is the full address that the encoded name and ".png" are appended to.
    // Without a network manager the cache makes its own.
    LogoCache(Clock* clock, const QString& prefix, QNetworkAccessManager* network = nullptr,
              QObject* parent = nullptr);
    ~LogoCache() override;

    static LogoCache& shared();
    // QML singleton factory: hands out shared(), which stays owned by C++.
    static LogoCache* create(QQmlEngine*, QJSEngine*);

    // The logo prefix for this process: VELLINE_LOGO_URL when set, else the public service.
    // A bare base address (http://host:port) gets "/image-stock/" appended.
    static QString configuredPrefix();
    static QString prefixFromBase(const QString& base);

    // Index symbols have no company logo; a fund tracking the index stands in.
    static const QHash<QString, QString>& logoAliases();

    // Download address for an upper-cased symbol, or nothing when none can be formed.
    std::optional<QUrl> logoURL(const QString& key) const;

    // Starts a download unless the logo is cached or already loading. Returns at once.
    Q_INVOKABLE void prefetch(const QString& symbol);

    // The cached logo of a symbol (any case), or a null image.
    QImage image(const QString& symbol) const;
    Q_INVOKABLE bool hasLogo(const QString& symbol) const;
    // image://logo/... for a cached logo, an empty URL otherwise.
    Q_INVOKABLE QUrl logoSource(const QString& symbol) const;
    // The letter drawn on the placeholder: first character after trimming '^' from both ends.
    Q_INVOKABLE static QString placeholderLetter(const QString& symbol);

    QHash<QString, QImage> images() const;
    QSet<QString> inflight() const { return m_inflight; }
    int revision() const { return m_revision; }
    QString prefix() const { return m_prefix; }

Q_SIGNALS:
    void imagesChanged();
    // The logo for `key` (upper-cased symbol) is now available.
    void logoArrived(const QString& key);

private:
    void finish(const QString& key, const QByteArray* body);

    Clock* m_clock;
    QString m_prefix;
    QNetworkAccessManager* m_network;
    mutable QMutex m_imagesLock; // the image provider may read from a loader thread
    QHash<QString, QImage> m_images;
    QSet<QString> m_inflight;
    int m_revision = 0;
};

// Serves cached logos to QML: Image { source: "image://logo/AAPL" }.
// The id is the percent-encoded upper-cased symbol, as produced by LogoCache::logoSource().
class LogoImageProvider : public QQuickImageProvider {
public:
    explicit LogoImageProvider(LogoCache* cache);
    QImage requestImage(const QString& id, QSize* size, const QSize& requestedSize) override;

private:
    LogoCache* m_cache;
};

} // namespace velline
