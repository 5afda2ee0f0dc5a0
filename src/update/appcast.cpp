#include "update/appcast.h"

#include <QHostAddress>
#include <QRegularExpression>
#include <QXmlStreamReader>

namespace velline {

namespace {

const QString kSparkleNs = QStringLiteral("http://www.andymatuschak.org/xml-namespaces/sparkle");

// Text of the current element, nested markup included as text; empty on a read error.
QString readText(QXmlStreamReader& xml) {
    return xml.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
}

bool isSparkle(const QXmlStreamReader& xml, QLatin1String name) {
    return xml.namespaceUri() == kSparkleNs && xml.name() == name;
}

struct VersionParts {
    QList<quint32> numbers;
    QString tail; // pre-release text, without its separator
};

VersionParts splitVersion(const QString& version) {
    VersionParts parts;
    qsizetype end = version.size();
    for (qsizetype i = 0; i < version.size(); ++i) {
        if (version[i] == QLatin1Char('-') || version[i] == QLatin1Char('~')) {
            end = i;
            parts.tail = version.mid(i + 1);
            break;
        }
    }
    for (const QString& number : version.left(end).split(QLatin1Char('.')))
        parts.numbers.append(number.toUInt());
    return parts;
}

// Pre-release tails: runs of digits compare as numbers, other runs as text ("beta10" > "beta9").
int compareTails(const QString& a, const QString& b) {
    static const QRegularExpression run(QStringLiteral("\\d+|[^\\d]+"));
    auto ia = run.globalMatch(a);
    auto ib = run.globalMatch(b);
    while (ia.hasNext() && ib.hasNext()) {
        const QString ra = ia.next().captured();
        const QString rb = ib.next().captured();
        const bool na = ra[0].isDigit();
        const bool nb = rb[0].isDigit();
        int c = 0;
        if (na && nb)
            c = ra.toULongLong() < rb.toULongLong() ? -1 : ra.toULongLong() > rb.toULongLong();
        else if (na != nb)
            c = na ? -1 : 1;
        else
            c = QString::compare(ra, rb);
        if (c != 0)
            return c < 0 ? -1 : 1;
    }
    return ia.hasNext() ? 1 : ib.hasNext() ? -1 : 0;
}

} // namespace

bool isValidVersion(const QString& version) {
    static const QRegularExpression pattern(
        QStringLiteral("^\\d{1,9}(\\.\\d{1,9}){0,5}([-~][0-9A-Za-z.]{1,32})?$"));
    return pattern.match(version).hasMatch();
}

int compareVersions(const QString& a, const QString& b) {
    const bool va = isValidVersion(a);
    const bool vb = isValidVersion(b);
    if (!va || !vb)
        return va == vb ? 0 : va ? 1 : -1;
    const VersionParts pa = splitVersion(a);
    const VersionParts pb = splitVersion(b);
    const qsizetype n = std::max(pa.numbers.size(), pb.numbers.size());
    for (qsizetype i = 0; i < n; ++i) {
        const quint32 x = i < pa.numbers.size() ? pa.numbers[i] : 0;
        const quint32 y = i < pb.numbers.size() ? pb.numbers[i] : 0;
        if (x != y)
            return x < y ? -1 : 1;
    }
    if (pa.tail.isEmpty() != pb.tail.isEmpty())
        return pa.tail.isEmpty() ? 1 : -1;
    return compareTails(pa.tail, pb.tail);
}

bool isAllowedUpdateUrl(const QUrl& url) {
    if (!url.isValid() || url.host().isEmpty())
        return false;
    if (url.scheme() == QLatin1String("https"))
        return true;
    if (url.scheme() != QLatin1String("http"))
        return false;
    if (url.host() == QLatin1String("localhost"))
        return true;
    const QHostAddress address(url.host());
    return !address.isNull() && address.isLoopback();
}

Appcast parseAppcast(const QByteArray& data) {
    Appcast feed;
    if (data.size() > kMaxAppcastBytes) {
        feed.error =
            QStringLiteral("the release feed is larger than %1 KiB").arg(kMaxAppcastBytes / 1024);
        return feed;
    }
    if (data.trimmed().isEmpty()) {
        feed.error = QStringLiteral("the release feed is empty");
        return feed;
    }
    QXmlStreamReader xml(data);
    bool sawRss = false;
    int itemNumber = 0;
    while (!xml.atEnd()) {
        const auto token = xml.readNext();
        if (token == QXmlStreamReader::DTD) {
            feed.error = QStringLiteral("the release feed declares a DTD, which is not accepted");
            break;
        }
        if (token != QXmlStreamReader::StartElement)
            continue;
        if (!sawRss) {
            if (xml.name() != QLatin1String("rss")) {
                feed.error = QStringLiteral("the release feed is not an RSS document");
                break;
            }
            sawRss = true;
            continue;
        }
        if (xml.name() != QLatin1String("item") || !xml.namespaceUri().isEmpty())
            continue;

        ++itemNumber;
        AppcastItem item;
        QString enclosureVersion;
        QString enclosureDisplay;
        int enclosures = 0;
        bool lengthOk = false;
        while (xml.readNextStartElement()) {
            const auto name = xml.name();
            if (xml.namespaceUri().isEmpty() && name == QLatin1String("title")) {
                item.title = readText(xml);
            } else if (xml.namespaceUri().isEmpty() && name == QLatin1String("description")) {
                item.description = readText(xml);
            } else if (xml.namespaceUri().isEmpty() && name == QLatin1String("pubDate")) {
                item.pubDate = QDateTime::fromString(readText(xml), Qt::RFC2822Date);
            } else if (isSparkle(xml, QLatin1String("version"))) {
                item.version = readText(xml);
            } else if (isSparkle(xml, QLatin1String("shortVersionString"))) {
                item.displayVersion = readText(xml);
            } else if (isSparkle(xml, QLatin1String("releaseNotesLink"))) {
                item.releaseNotesLink = QUrl(readText(xml), QUrl::StrictMode);
            } else if (xml.namespaceUri().isEmpty() && name == QLatin1String("enclosure")) {
                ++enclosures;
                const auto attributes = xml.attributes();
                item.url = QUrl(attributes.value(QLatin1String("url")).toString().trimmed(),
                                QUrl::StrictMode);
                item.length = attributes.value(QLatin1String("length")).toLongLong(&lengthOk);
                item.type = attributes.value(QLatin1String("type")).toString();
                item.edSignature =
                    attributes.value(kSparkleNs, QLatin1String("edSignature")).toString().trimmed();
                enclosureVersion =
                    attributes.value(kSparkleNs, QLatin1String("version")).toString().trimmed();
                enclosureDisplay = attributes.value(kSparkleNs, QLatin1String("shortVersionString"))
                                       .toString()
                                       .trimmed();
                xml.skipCurrentElement();
            } else {
                xml.skipCurrentElement();
            }
        }
        if (xml.hasError())
            break;
        if (item.version.isEmpty())
            item.version = enclosureVersion;
        if (item.displayVersion.isEmpty())
            item.displayVersion = enclosureDisplay;
        if (item.displayVersion.isEmpty())
            item.displayVersion = item.version;
        if (!isAllowedUpdateUrl(item.releaseNotesLink))
            item.releaseNotesLink = QUrl();

        QString why;
        if (enclosures == 0)
            why = QStringLiteral("no enclosure");
        else if (enclosures > 1)
            why = QStringLiteral("more than one enclosure");
        else if (!isValidVersion(item.version))
            why = QStringLiteral("unreadable version \"%1\"").arg(item.version.left(40));
        else if (item.displayVersion.size() > 64)
            why = QStringLiteral("display version too long");
        else if (!isAllowedUpdateUrl(item.url))
            why = QStringLiteral("enclosure address is not https");
        else if (!lengthOk || item.length <= 0 || item.length > kMaxPackageBytes)
            why = QStringLiteral("enclosure length is missing or out of range");
        else if (QByteArray::fromBase64(item.edSignature.toLatin1(),
                                        QByteArray::AbortOnBase64DecodingErrors)
                     .size() != 64)
            why = QStringLiteral("enclosure has no Ed25519 signature");
        if (why.isEmpty())
            feed.items.append(item);
        else
            feed.rejected.append(QStringLiteral("item %1: %2").arg(itemNumber).arg(why));
    }
    if (feed.error.isEmpty() && xml.hasError())
        feed.error =
            QStringLiteral("the release feed is not well-formed XML (%1)").arg(xml.errorString());
    else if (feed.error.isEmpty() && !sawRss)
        feed.error = QStringLiteral("the release feed is not XML");
    if (!feed.error.isEmpty()) {
        feed.items.clear();
        feed.rejected.clear();
    }
    return feed;
}

const AppcastItem* newestUpdate(const Appcast& feed, const QString& current) {
    const AppcastItem* best = nullptr;
    for (const AppcastItem& item : feed.items) {
        if (compareVersions(item.version, current) <= 0)
            continue;
        if (!best || compareVersions(item.version, best->version) > 0)
            best = &item;
    }
    return best;
}

} // namespace velline
