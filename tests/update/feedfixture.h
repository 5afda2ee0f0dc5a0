#pragma once

// Release feeds for the updater tests.

#include <QByteArray>
#include <QString>

namespace feedfixture {

// A valid-looking signature (64 zero bytes); real ones come from velline::ed25519::sign.
inline QString dummySignature() {
    return QString::fromLatin1(QByteArray(64, '\0').toBase64());
}

inline QByteArray item(const QString& version, const QString& url, qint64 length,
                       const QString& signature, const QString& extra = {}) {
    return QStringLiteral("<item><title>Velline %1</title>"
                          "<sparkle:version>%1</sparkle:version>"
                          "<pubDate>Tue, 01 Dec 2026 10:00:00 +0000</pubDate>%5"
                          "<enclosure url=\"%2\" length=\"%3\" "
                          "type=\"application/vnd.debian.binary-package\" "
                          "sparkle:edSignature=\"%4\"/></item>")
        .arg(version, url)
        .arg(length)
        .arg(signature, extra)
        .toUtf8();
}

inline QByteArray feed(const QByteArray& items) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
           "<rss version=\"2.0\" "
           "xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\">"
           "<channel><title>Velline</title>" +
           items + "</channel></rss>";
}

} // namespace feedfixture
