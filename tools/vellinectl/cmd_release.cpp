// vellinectl release: the release tooling. `keygen` makes the Ed25519 key pair that packages are
// signed with (the public half is built into Velline), `sign` signs a package and prints the
// release feed's item for it.

#include "commands.h"

#include "update/appcast.h"
#include "update/signature.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>

namespace vellinectl {

namespace {

const char* const kUsage =
    "usage: vellinectl release keygen PRIVATE_KEY_FILE\n"
    "       vellinectl release sign --key PRIVATE_KEY_FILE --url URL [options] PACKAGE\n"
    "\n"
    "keygen writes a new Ed25519 private key (PEM, readable by you alone) to PRIVATE_KEY_FILE,\n"
    "which must not exist yet, and prints the public key in base64. Build releases with\n"
    "-DVELLINE_UPDATE_PUBLIC_KEY=<that key>. Keep the private key off the build machines.\n"
    "\n"
    "sign signs PACKAGE and prints its <item> for the release feed (RSS 2.0 with Sparkle's\n"
    "elements). Options:\n"
    "  --key FILE                 the private key made by keygen\n"
    "  --url URL                  where the package will be downloaded from; a URL ending in\n"
    "                             '/' gets the package's file name appended\n"
    "  --version VERSION          the release's version (default: taken from a file name\n"
    "                             such as velline_1.3.0_amd64.deb)\n"
    "  --display-version TEXT     the version users see (default: VERSION)\n"
    "  --notes FILE               release notes, an HTML fragment\n"
    "  --notes-link URL           a link to the release notes instead\n"
    "  --feed                     print a whole feed with this one item\n"
    "\n"
    "Exit status: 0 done, 1 a file could not be read or written, 64 wrong arguments.";

QString xmlEscaped(const QString& text) {
    return text.toHtmlEscaped();
}

int keygen(const QStringList& args, Io& io) {
    if (args.size() != 1) {
        io.err << kUsage << "\n";
        return ExitUsage;
    }
    const QString path = args.first();
    if (QFileInfo::exists(path)) {
        io.err << "vellinectl release: " << path << " exists; not overwriting a key\n";
        return ExitFailed;
    }
    const auto pair = velline::ed25519::generate();
    QFile file(path);
    if (pair.privateKeyPem.isEmpty() || !file.open(QIODevice::WriteOnly | QIODevice::NewOnly) ||
        !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) ||
        file.write(pair.privateKeyPem) != pair.privateKeyPem.size() || !file.flush()) {
        io.err << "vellinectl release: could not write " << path << ": " << file.errorString()
               << "\n";
        file.remove();
        return ExitFailed;
    }
    io.out << pair.publicKeyBase64 << "\n";
    return ExitOk;
}

int sign(const QStringList& args, Io& io) {
    QString keyPath, url, version, display, notesPath, notesLink, package;
    bool wholeFeed = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        auto take = [&](QString& target) {
            if (!hasValue)
                return false;
            target = args[++i];
            return true;
        };
        bool ok = true;
        if (arg == QLatin1String("--key"))
            ok = take(keyPath);
        else if (arg == QLatin1String("--url"))
            ok = take(url);
        else if (arg == QLatin1String("--version"))
            ok = take(version);
        else if (arg == QLatin1String("--display-version"))
            ok = take(display);
        else if (arg == QLatin1String("--notes"))
            ok = take(notesPath);
        else if (arg == QLatin1String("--notes-link"))
            ok = take(notesLink);
        else if (arg == QLatin1String("--feed"))
            wholeFeed = true;
        else if (!arg.startsWith(QLatin1Char('-')) && package.isEmpty())
            package = arg;
        else
            ok = false;
        if (!ok) {
            io.err << "vellinectl release: unexpected argument '" << arg << "'\n" << kUsage << "\n";
            return ExitUsage;
        }
    }
    if (keyPath.isEmpty() || url.isEmpty() || package.isEmpty()) {
        io.err << kUsage << "\n";
        return ExitUsage;
    }
    const QString fileName = QFileInfo(package).fileName();
    if (version.isEmpty()) {
        static const QRegularExpression debName(QStringLiteral("^[^_]+_([^_]+)_[^_]+\\.deb$"));
        version = debName.match(fileName).captured(1);
    }
    if (!velline::isValidVersion(version)) {
        io.err << "vellinectl release: give --version (\"" << version
               << "\" is not a version such as 1.3.0)\n";
        return ExitUsage;
    }
    if (display.isEmpty())
        display = version;
    if (url.endsWith(QLatin1Char('/')))
        url += QString::fromLatin1(QUrl::toPercentEncoding(fileName));
    if (!velline::isAllowedUpdateUrl(QUrl(url, QUrl::StrictMode))) {
        io.err << "vellinectl release: " << url << " is not an https address\n";
        return ExitUsage;
    }

    QFile keyFile(keyPath);
    if (!keyFile.open(QIODevice::ReadOnly)) {
        io.err << "vellinectl release: cannot read " << keyPath << ": " << keyFile.errorString()
               << "\n";
        return ExitFailed;
    }
    QFile packageFile(package);
    if (!packageFile.open(QIODevice::ReadOnly)) {
        io.err << "vellinectl release: cannot read " << package << ": " << packageFile.errorString()
               << "\n";
        return ExitFailed;
    }
    const QByteArray bytes = packageFile.readAll();
    QString error;
    const QString signature = velline::ed25519::sign(keyFile.readAll(), bytes, &error);
    if (signature.isEmpty()) {
        io.err << "vellinectl release: cannot sign with " << keyPath << ": " << error << "\n";
        return ExitFailed;
    }
    QString notes;
    if (!notesPath.isEmpty()) {
        QFile notesFile(notesPath);
        if (!notesFile.open(QIODevice::ReadOnly)) {
            io.err << "vellinectl release: cannot read " << notesPath << "\n";
            return ExitFailed;
        }
        notes = QString::fromUtf8(notesFile.readAll());
    }

    const QString pubDate = QDateTime::currentDateTimeUtc().toString(Qt::RFC2822Date);
    QString item;
    item +=
        QStringLiteral("    <item>\n      <title>Velline %1</title>\n").arg(xmlEscaped(display));
    item += QStringLiteral("      <sparkle:version>%1</sparkle:version>\n").arg(version);
    item += QStringLiteral("      <sparkle:shortVersionString>%1</sparkle:shortVersionString>\n")
                .arg(xmlEscaped(display));
    item += QStringLiteral("      <pubDate>%1</pubDate>\n").arg(pubDate);
    if (!notes.isEmpty())
        item += QStringLiteral("      <description><![CDATA[%1]]></description>\n")
                    .arg(notes.replace(QStringLiteral("]]>"), QStringLiteral("]]]]><![CDATA[>")));
    if (!notesLink.isEmpty())
        item += QStringLiteral("      <sparkle:releaseNotesLink>%1</sparkle:releaseNotesLink>\n")
                    .arg(xmlEscaped(notesLink));
    item += QStringLiteral("      <enclosure url=\"%1\" length=\"%2\" "
                           "type=\"application/vnd.debian.binary-package\" "
                           "sparkle:edSignature=\"%3\"/>\n    </item>\n")
                .arg(xmlEscaped(url))
                .arg(bytes.size())
                .arg(signature);
    if (wholeFeed) {
        io.out << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                  "<rss version=\"2.0\" "
                  "xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\">\n"
                  "  <channel>\n    <title>Velline</title>\n"
               << item << "  </channel>\n</rss>\n";
    } else {
        io.out << item;
    }
    return ExitOk;
}

const bool registered = registerCommand({
    QStringLiteral("release"),
    QStringLiteral("make a signing key pair, sign a package and print its release feed item"),
    QString::fromLatin1(kUsage),
    [](const QStringList& args, Io& io) -> int {
        const QString sub = args.value(0);
        if (sub == QLatin1String("keygen"))
            return keygen(args.mid(1), io);
        if (sub == QLatin1String("sign"))
            return sign(args.mid(1), io);
        io.err << kUsage << "\n";
        return ExitUsage;
    },
});

} // namespace

} // namespace vellinectl
