#include "notch/logocache.h"

#include "market/chartfeed.h"
#include "notch/logodecode.h"

#include <QJSEngine>
#include <QMutexLocker>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QQmlEngine>
#include <QTextBoundaryFinder>

#include <memory>

namespace velline {

namespace {
const QString defaultPrefix = QStringLiteral("https://financialmodelingprep.com/image-stock/");
} // namespace

LogoCache::LogoCache(Clock* clock, const QString& prefix, QNetworkAccessManager* network,
                     QObject* parent)
    : QObject(parent), m_clock(clock), m_prefix(prefix),
      m_network(network ? network : new QNetworkAccessManager(this)) {}

LogoCache::~LogoCache() = default;

LogoCache& LogoCache::shared() {
    static LogoCache* cache = new LogoCache(Clock::system(), configuredPrefix());
    return *cache;
}

LogoCache* LogoCache::create(QQmlEngine* engine, QJSEngine*) {
    LogoCache* cache = &shared();
    // The first QML use in an engine also serves image://logo/ there.
    if (engine && !engine->imageProvider(QLatin1String(providerId)))
        engine->addImageProvider(QLatin1String(providerId), new LogoImageProvider(cache));
    QJSEngine::setObjectOwnership(cache, QJSEngine::CppOwnership);
    return cache;
}

QString LogoCache::configuredPrefix() {
    const QString base = qEnvironmentVariable("VELLINE_LOGO_URL").trimmed();
    return base.isEmpty() ? defaultPrefix : prefixFromBase(base);
}

QString LogoCache::prefixFromBase(const QString& base) {
    QString prefix = base;
    while (prefix.endsWith(QLatin1Char('/')))
        prefix.chop(1);
    if (!prefix.endsWith(QLatin1String("/image-stock")))
        prefix += QLatin1String("/image-stock");
    return prefix + QLatin1Char('/');
}

const QHash<QString, QString>& LogoCache::logoAliases() {
    static const QHash<QString, QString> aliases{
        {QStringLiteral("^GSPC"), QStringLiteral("SPY")},
        {QStringLiteral("^DJI"), QStringLiteral("DIA")},
        {QStringLiteral("^IXIC"), QStringLiteral("QQQ")},
    };
    return aliases;
}

std::optional<QUrl> LogoCache::logoURL(const QString& key) const {
    if (key.trimmed().isEmpty())
        return std::nullopt;
    const QString name = logoAliases().value(key, key);
    // One path segment: '/' is encoded and dot segments are refused, as for the chart feed.
    if (isDotSegment(name))
        return std::nullopt;
    const QByteArray encoded = encodeSymbolForPath(name).toLatin1();
    const QUrl url(m_prefix + QString::fromLatin1(encoded) + QLatin1String(".png"),
                   QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty() || url.host().isEmpty())
        return std::nullopt;
    return url;
}

void LogoCache::prefetch(const QString& symbol) {
    const QString key = symbol.toUpper();
    if (m_inflight.contains(key) || hasLogo(key))
        return;
    const std::optional<QUrl> url = logoURL(key);
    if (!url)
        return;
    m_inflight.insert(key);

    QNetworkRequest request(*url);
    QNetworkReply* reply = m_network->get(request);
    // Read in small steps, so an oversized answer is refused before it is all in memory.
    reply->setReadBufferSize(64 * 1024);
    // The reply may outlive neither the cache nor the time limit; a stalled download
    // would otherwise keep the symbol "in flight" for good and block every retry.
    QPointer<QNetworkReply> guard(reply);
    ScheduledTask limit = m_clock->schedule(downloadTimeoutSeconds, reply, [guard] {
        if (guard)
            guard->abort();
    });
    // The body is collected as it arrives and the download given up as soon as it grows past
    // the logo limit (or announces that it will), so a huge answer is never held in memory.
    auto body = std::make_shared<QByteArray>();
    auto refused = std::make_shared<bool>(false);
    auto refuse = [reply, body, refused] {
        *refused = true;
        body->clear();
        reply->abort();
    };
    connect(reply, &QNetworkReply::metaDataChanged, reply, [reply, refused, refuse] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (!*refused && length.isValid() && length.toLongLong() > logo::maxBodyBytes)
            refuse();
    });
    connect(reply, &QNetworkReply::readyRead, reply, [reply, body, refused, refuse] {
        if (*refused)
            return;
        if (body->size() + reply->bytesAvailable() > logo::maxBodyBytes) {
            refuse();
            return;
        }
        *body += reply->readAll();
    });
    connect(reply, &QNetworkReply::finished, this,
            [this, reply, key, limit, body, refused]() mutable {
                limit.cancel();
                reply->deleteLater();
                if (!*refused && reply->error() == QNetworkReply::NoError &&
                    body->size() + reply->bytesAvailable() <= logo::maxBodyBytes) {
                    *body += reply->readAll();
                    finish(key, body.get());
                } else {
                    finish(key, nullptr);
                }
            });
}

void LogoCache::finish(const QString& key, const QByteArray* body) {
    m_inflight.remove(key);
    if (!body)
        return;
    QImage image = logo::decodeLogo(*body);
    if (image.isNull())
        return;
    if (image.width() > maxLogoPixels || image.height() > maxLogoPixels)
        image = image.scaled(maxLogoPixels, maxLogoPixels, Qt::KeepAspectRatio,
                             Qt::SmoothTransformation);
    {
        QMutexLocker lock(&m_imagesLock);
        m_images.insert(key, image);
    }
    ++m_revision;
    Q_EMIT logoArrived(key);
    Q_EMIT imagesChanged();
}

QImage LogoCache::image(const QString& symbol) const {
    QMutexLocker lock(&m_imagesLock);
    return m_images.value(symbol.toUpper());
}

bool LogoCache::hasLogo(const QString& symbol) const {
    QMutexLocker lock(&m_imagesLock);
    return m_images.contains(symbol.toUpper());
}

QUrl LogoCache::logoSource(const QString& symbol) const {
    const QString key = symbol.toUpper();
    if (!hasLogo(key))
        return {};
    // Encode everything but the unreserved characters so that '^', '=', '/' or '?' in a
    // symbol cannot be read as URL structure.
    return QUrl(QLatin1String("image://") + QLatin1String(providerId) + QLatin1Char('/') +
                QString::fromLatin1(QUrl::toPercentEncoding(key)));
}

QString LogoCache::placeholderLetter(const QString& symbol) {
    qsizetype begin = 0;
    qsizetype end = symbol.size();
    while (begin < end && symbol.at(begin) == QLatin1Char('^'))
        ++begin;
    while (end > begin && symbol.at(end - 1) == QLatin1Char('^'))
        --end;
    const QString trimmed = symbol.mid(begin, end - begin);
    if (trimmed.isEmpty())
        return {};
    // One user-perceived character, so a letter with a combining mark or a character
    // outside the basic plane is never cut in half.
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, trimmed);
    const qsizetype next = finder.toNextBoundary();
    return trimmed.left(next > 0 ? next : 1);
}

QHash<QString, QImage> LogoCache::images() const {
    QMutexLocker lock(&m_imagesLock);
    return m_images;
}

LogoImageProvider::LogoImageProvider(LogoCache* cache)
    : QQuickImageProvider(QQuickImageProvider::Image), m_cache(cache) {}

QImage LogoImageProvider::requestImage(const QString& id, QSize* size, const QSize& requestedSize) {
    const QString key = QUrl::fromPercentEncoding(id.toUtf8());
    QImage image = m_cache->image(key);
    if (size)
        *size = image.size();
    if (!image.isNull() && requestedSize.isValid() && !requestedSize.isEmpty())
        image = image.scaled(requestedSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return image;
}

} // namespace velline
