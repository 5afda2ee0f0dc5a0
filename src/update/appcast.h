#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

namespace velline {

// One release offered by the release feed: an RSS 2.0 <item> with Sparkle's elements.
struct AppcastItem {
    QString title;
    // The comparable version ("1.3.0"), from <sparkle:version> or the enclosure's
    // sparkle:version attribute.
    QString version;
    // What the user is shown ("1.3.0"); the version when the feed gives none.
    QString displayVersion;
    QDateTime pubDate; // invalid when absent or unreadable
    // Release notes: HTML from <description>, or a link to them.
    QString description;
    QUrl releaseNotesLink;
    // The package: its address, exact size in bytes, MIME type and base64 Ed25519 signature.
    QUrl url;
    qint64 length = 0;
    QString type;
    QString edSignature;

    bool operator==(const AppcastItem&) const = default;
};

struct Appcast {
    // The usable items, in feed order.
    QList<AppcastItem> items;
    // Why each unusable item was left out ("item 2: no enclosure").
    QStringList rejected;
    // Set when the document as a whole cannot be read; items is then empty.
    QString error;

    bool ok() const { return error.isEmpty(); }
};

// The largest feed accepted; a longer answer is refused before it is parsed.
inline constexpr qint64 kMaxAppcastBytes = 1024 * 1024;
// The largest package accepted.
inline constexpr qint64 kMaxPackageBytes = qint64(1) << 30;

// Reads a Sparkle-style appcast. Never throws and never trusts the input: anything but an RSS
// document (or one with a DTD) is an error, and items that lack a readable version, an
// enclosure with an http(s) address, a positive length or a signature are left out.
Appcast parseAppcast(const QByteArray& xml);

// A version is dot-separated numbers ("1", "1.10.2", at most 6 parts of at most 9 digits) with
// an optional pre-release tail after '-' or '~' ("1.3.0-beta2").
bool isValidVersion(const QString& version);

// Component by component, numbers compared as numbers: 1.10 > 1.9, 1.2 == 1.2.0, and a
// pre-release comes before its release (1.3.0-beta2 < 1.3.0). Returns <0, 0 or >0. Invalid
// versions order before every valid one.
int compareVersions(const QString& a, const QString& b);

// The newest item whose version is above `current`, or nullptr.
const AppcastItem* newestUpdate(const Appcast& feed, const QString& current);

// Addresses the updater may fetch: https anywhere, plain http only on this machine.
bool isAllowedUpdateUrl(const QUrl& url);

} // namespace velline
