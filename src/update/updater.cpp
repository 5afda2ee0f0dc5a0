#include "update/updater.h"

#include "desktop/buildinfo.h"
#include "prefs/userpreferences.h"
#include "update/signature.h"
#include "update/updatedialog.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QtDebug>

#include <unistd.h>

#ifndef VELLINE_UPDATE_FEED_URL
#define VELLINE_UPDATE_FEED_URL ""
#endif
#ifndef VELLINE_UPDATE_PUBLIC_KEY
#define VELLINE_UPDATE_PUBLIC_KEY ""
#endif

namespace velline {

const QString Updater::kAutomaticKey = QStringLiteral("Updates/automaticallyChecksForUpdates_v1");
const QString Updater::kLastCheckKey = QStringLiteral("Updates/lastUpdateCheck_v1");
const QString Updater::kSkippedVersionKey = QStringLiteral("Updates/skippedVersion_v1");

namespace {

// Automatic checks wake at least this often, so a day that passes while the machine sleeps
// (when timers stand still) is noticed soon after it wakes.
constexpr double kWakeInterval = 3600.0;

QString userAgent() {
    return QStringLiteral("Velline/%1").arg(QLatin1String(buildinfo::kVersion));
}

// The package's file name: the last part of its address, reduced to harmless characters.
QString packageFileName(const AppcastItem& item) {
    static const QRegularExpression unsafe(QStringLiteral("[^A-Za-z0-9._+-]"));
    QString name = item.url.fileName().replace(unsafe, QStringLiteral("_"));
    while (name.startsWith(QLatin1Char('.')))
        name.remove(0, 1);
    if (name.isEmpty())
        name = QStringLiteral("velline_%1.deb").arg(item.version);
    return name.left(120);
}

QString sizeText(qint64 bytes) {
    return QLocale::system().formattedDataSize(bytes, 1, QLocale::DataSizeTraditionalFormat);
}

void restartThisProgram() {
    QString program = QCoreApplication::applicationFilePath();
    // A binary replaced by the package manager reads as "… (deleted)".
    program.remove(QRegularExpression(QStringLiteral(" \\(deleted\\)$")));
    // The new Velline waits until this one has gone, so it does not find it still running.
    const QString script =
        QStringLiteral("while kill -0 %1 2>/dev/null; do sleep 0.2; done; exec \"$0\"")
            .arg(::getpid());
    QProcess::startDetached(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), script, program});
    QCoreApplication::quit();
}

} // namespace

Updater::Options Updater::defaultOptions() {
    Options options;
    const QByteArray fromEnvironment = qgetenv("VELLINE_UPDATE_FEED_URL");
    options.feedUrl = qEnvironmentVariableIsSet("VELLINE_UPDATE_FEED_URL")
                          ? QUrl(QString::fromUtf8(fromEnvironment).trimmed())
                          : QUrl(QStringLiteral(VELLINE_UPDATE_FEED_URL));
    options.publicKey = QStringLiteral(VELLINE_UPDATE_PUBLIC_KEY);
    options.currentVersion = QString::fromLatin1(buildinfo::kVersion);
    options.downloadDirectory = QStandardPaths::writableLocation(QStandardPaths::CacheLocation) +
                                QStringLiteral("/updates");
    if (!QStandardPaths::findExecutable(QStringLiteral("pkexec")).isEmpty() &&
        !QStandardPaths::findExecutable(QStringLiteral("apt-get")).isEmpty()) {
        options.installCommand = {{QStringLiteral("pkexec"), QStringLiteral("apt-get"),
                                   QStringLiteral("install"), QStringLiteral("-y"),
                                   QStringLiteral("%f")},
                                  true};
    } else {
        options.installCommand = {{QStringLiteral("xdg-open"), QStringLiteral("%f")}, false};
    }
    options.restart = restartThisProgram;
    return options;
}

Updater::Updater(QObject* parent) : Updater(defaultOptions(), parent) {}

Updater::Updater(Options options, QObject* parent)
    : QObject(parent), m_options(std::move(options)),
      m_clock(m_options.clock ? m_options.clock : Clock::system()) {
    if (m_options.settings) {
        m_settings = m_options.settings;
    } else {
        m_ownedSettings = UserPreferences::openDefaultStore();
        m_settings = m_ownedSettings.get();
    }
    if (m_options.currentVersion.isEmpty())
        m_options.currentVersion = QString::fromLatin1(buildinfo::kVersion);
    if (!m_options.feedUrl.isEmpty() && !isAllowedUpdateUrl(m_options.feedUrl)) {
        qWarning("velline: update feed %s is not https; checking for updates is off",
                 qPrintable(m_options.feedUrl.toString()));
        m_options.feedUrl = QUrl();
    }
    const QVariant stored = m_settings->value(kAutomaticKey);
    m_automatic = stored.typeId() == QMetaType::Bool            ? stored.toBool()
                  : stored.toString() == QLatin1String("false") ? false
                                                                : true;
    m_startedAt = m_clock->now();
    scheduleAutomaticCheck();
}

Updater::~Updater() {
    m_automaticTask.cancel();
    m_timeoutTask.cancel();
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
    }
    discardDownload();
    delete m_dialog;
}

bool Updater::automaticallyChecksForUpdates() const {
    return m_automatic && canCheckForUpdates();
}

void Updater::setAutomaticallyChecksForUpdates(bool on) {
    m_automatic = on;
    m_settings->setValue(kAutomaticKey, on);
    m_settings->sync();
    scheduleAutomaticCheck();
    Q_EMIT automaticallyChecksForUpdatesChanged();
}

bool Updater::canCheckForUpdates() const {
    return !m_options.feedUrl.isEmpty();
}

QString Updater::versionText() {
    return buildinfo::versionText();
}

double Updater::lastCheckTime() const {
    bool ok = false;
    const double value = m_settings->value(kLastCheckKey).toDouble(&ok);
    return ok && value > 0 ? value : 0;
}

QString Updater::skippedVersion() const {
    return m_settings->value(kSkippedVersionKey).toString();
}

UpdateDialog* Updater::dialog() const {
    return m_dialog;
}

// Texts

QString Updater::headline() const {
    switch (m_phase) {
    case Phase::idle:
    case Phase::checking:
        return QStringLiteral("Checking for updates…");
    case Phase::noFeed:
        return QStringLiteral("Velline is updated by your package manager");
    case Phase::upToDate:
        return QStringLiteral("You're up to date!");
    case Phase::checkFailed:
        return QStringLiteral("Velline could not check for updates");
    case Phase::updateAvailable:
        return QStringLiteral("A new version of Velline is available!");
    case Phase::downloading:
        return QStringLiteral("Downloading Velline %1…").arg(m_item.displayVersion);
    case Phase::installing:
        return QStringLiteral("Installing Velline %1…").arg(m_item.displayVersion);
    case Phase::installed:
        return QStringLiteral("Velline %1 is installed").arg(m_item.displayVersion);
    case Phase::handedOff:
        return QStringLiteral("Velline %1 is ready to install").arg(m_item.displayVersion);
    case Phase::failed:
        return QStringLiteral("The update was not installed");
    }
    return {};
}

QString Updater::informativeText() const {
    switch (m_phase) {
    case Phase::idle:
    case Phase::checking:
        return {};
    case Phase::noFeed:
        return QStringLiteral("This copy of Velline is updated by its package manager. New "
                              "versions arrive with your system's software updates.");
    case Phase::upToDate:
        return QStringLiteral("Velline %1 is currently the newest version available.")
            .arg(m_options.currentVersion);
    case Phase::checkFailed:
    case Phase::failed:
        return m_failure;
    case Phase::updateAvailable:
        return QStringLiteral("Velline %1 is now available — you have %2. Would you like to "
                              "download it now?")
            .arg(m_item.displayVersion, m_options.currentVersion);
    case Phase::downloading:
        return QStringLiteral("%1 of %2").arg(sizeText(m_received), sizeText(m_item.length));
    case Phase::installing:
        return m_options.installCommand.waits
                   ? QStringLiteral("The package manager is installing the update. It may ask "
                                    "for your password.")
                   : QString();
    case Phase::installed:
        return QStringLiteral("Restart Velline to use the new version.");
    case Phase::handedOff:
        return QStringLiteral("The package opened in your software installer. Restart Velline "
                              "once it is installed.");
    }
    return {};
}

void Updater::setPhase(Phase phase, bool present) {
    m_phase = phase;
    Q_EMIT phaseChanged();
    if (present && phase != Phase::idle) {
        ensureDialog();
        Q_EMIT presentRequested();
    }
}

void Updater::fail(Phase phase, const QString& reason) {
    m_failure = reason;
    setPhase(phase, true);
}

void Updater::ensureDialog() {
    if (m_dialog || !m_options.showsDialogs ||
        !qobject_cast<QApplication*>(QCoreApplication::instance()))
        return;
    m_dialog = new UpdateDialog(this);
}

// Checks

void Updater::checkForUpdates() {
    switch (m_phase) {
    case Phase::checking:
        m_userInitiated = true; // the running check now reports its result
        setPhase(m_phase, true);
        return;
    case Phase::updateAvailable:
    case Phase::downloading:
    case Phase::installing:
    case Phase::installed:
    case Phase::handedOff:
        setPhase(m_phase, true); // show what is already under way
        return;
    default:
        break;
    }
    if (!canCheckForUpdates()) {
        setPhase(Phase::noFeed, true);
        return;
    }
    startCheck(true);
}

QNetworkAccessManager* Updater::network() {
    // Made on first use: a build without a feed, or a day without a check, needs none.
    if (!m_network) {
        m_network = new QNetworkAccessManager(this);
        m_network->setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
    }
    return m_network;
}

void Updater::startCheck(bool userInitiated) {
    m_userInitiated = userInitiated;
    m_feedData.clear();
    m_abortReason.clear();
    setPhase(Phase::checking, userInitiated);

    QNetworkRequest request(m_options.feedUrl);
    request.setHeader(QNetworkRequest::UserAgentHeader, userAgent());
    request.setRawHeader("Accept", "application/rss+xml, application/xml, text/xml");
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    m_reply = network()->get(request);
    QNetworkReply* reply = m_reply;
    connect(reply, &QNetworkReply::readyRead, this, [this, reply] {
        if (m_feedData.size() + reply->bytesAvailable() > kMaxAppcastBytes) {
            m_abortReason = QStringLiteral("the release feed is larger than %1 KiB")
                                .arg(kMaxAppcastBytes / 1024);
            reply->abort();
            return;
        }
        m_feedData += reply->readAll();
    });
    connect(reply, &QNetworkReply::finished, this, &Updater::feedFinished);
    m_timeoutTask.cancel();
    m_timeoutTask = m_clock->schedule(kFeedTimeout, this, [this, reply] {
        if (m_reply != reply)
            return;
        m_abortReason =
            QStringLiteral("the release feed did not answer within %1 seconds").arg(kFeedTimeout);
        reply->abort();
    });
}

QNetworkReply* Updater::takeFinishedReply() {
    QNetworkReply* reply = m_reply;
    if (!reply || reply != sender())
        return nullptr;
    m_timeoutTask.cancel();
    m_reply = nullptr;
    reply->deleteLater();
    return reply;
}

void Updater::feedFinished() {
    QNetworkReply* reply = takeFinishedReply();
    if (!reply)
        return;

    QString failure = m_abortReason;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (failure.isEmpty() && reply->error() != QNetworkReply::NoError) {
        if (status >= 400)
            failure = QStringLiteral("the release feed answered with HTTP status %1").arg(status);
        else
            failure = QStringLiteral("the release feed could not be reached (%1)")
                          .arg(reply->errorString());
    }
    if (failure.isEmpty())
        m_feedData += reply->readAll();
    Appcast feed;
    if (failure.isEmpty()) {
        feed = parseAppcast(m_feedData);
        failure = feed.error;
        if (failure.isEmpty() && feed.items.isEmpty() && !feed.rejected.isEmpty())
            failure = QStringLiteral("the release feed lists no usable release (%1)")
                          .arg(feed.rejected.first());
    }
    m_feedData.clear();
    finishCheck(failure, feed);
}

void Updater::finishCheck(const QString& failure, const Appcast& feed) {
    m_settings->setValue(kLastCheckKey, m_clock->now());
    m_settings->sync();
    scheduleAutomaticCheck();

    const bool user = m_userInitiated;
    m_userInitiated = false;
    if (!failure.isEmpty()) {
        qWarning("velline: update check failed: %s", qPrintable(failure));
        if (user) {
            QString sentence = failure;
            sentence[0] = sentence[0].toUpper();
            fail(Phase::checkFailed, sentence + QLatin1Char('.'));
        } else {
            setPhase(Phase::idle, false);
        }
        return;
    }
    for (const QString& why : feed.rejected)
        qWarning("velline: release feed %s left out", qPrintable(why));

    const AppcastItem* newest = newestUpdate(feed, m_options.currentVersion);
    const QString skipped = skippedVersion();
    if (newest && !user && !skipped.isEmpty() && compareVersions(newest->version, skipped) <= 0)
        newest = nullptr;
    if (!newest) {
        setPhase(user ? Phase::upToDate : Phase::idle, user);
        return;
    }
    m_item = *newest;
    setPhase(Phase::updateAvailable, true);
}

// Automatic checks

void Updater::scheduleAutomaticCheck() {
    m_automaticTask.cancel();
    m_nextAutomatic = 0;
    if (!automaticallyChecksForUpdates())
        return;
    const double now = m_clock->now();
    const double last = lastCheckTime();
    double due = std::max(last + kCheckInterval, m_startedAt + kFirstCheckDelay);
    // A last check in the future means the clock was set back: wait at most a day from now.
    due = std::min(due, std::max(now, m_startedAt + kFirstCheckDelay) + kCheckInterval);
    m_nextAutomatic = due;
    m_automaticTask = m_clock->schedule(std::min(due - now, kWakeInterval), this,
                                        [this] { automaticTimerFired(); });
}

void Updater::automaticTimerFired() {
    if (m_clock->now() < m_nextAutomatic) {
        const double due = m_nextAutomatic;
        m_automaticTask = m_clock->schedule(std::min(due - m_clock->now(), kWakeInterval), this,
                                            [this] { automaticTimerFired(); });
        return;
    }
    if (m_phase == Phase::idle) {
        startCheck(false);
        return;
    }
    // Something is on screen or under way: look again later, without disturbing it.
    m_automaticTask = m_clock->schedule(kWakeInterval, this, [this] { automaticTimerFired(); });
}

// Answers

void Updater::skipThisVersion() {
    if (m_phase != Phase::updateAvailable)
        return;
    m_settings->setValue(kSkippedVersionKey, m_item.version);
    m_settings->sync();
    setPhase(Phase::idle, false);
}

void Updater::remindMeLater() {
    if (m_phase != Phase::updateAvailable)
        return;
    // Nothing is stored: the next automatic check offers it again.
    setPhase(Phase::idle, false);
}

void Updater::dismiss() {
    switch (m_phase) {
    case Phase::updateAvailable:
        remindMeLater();
        return;
    case Phase::downloading:
        cancelDownload();
        return;
    case Phase::checking:
        m_userInitiated = false; // runs on, silently
        Q_EMIT closeRequested();
        return;
    case Phase::installing:
        Q_EMIT closeRequested(); // runs on; its result shows
        return;
    default:
        setPhase(Phase::idle, false);
    }
}

void Updater::restartNow() {
    if (m_phase != Phase::installed && m_phase != Phase::handedOff)
        return;
    setPhase(Phase::idle, false);
    if (m_options.restart)
        m_options.restart();
}

// Download, verification, installation

void Updater::installUpdate() {
    if (m_phase != Phase::updateAvailable)
        return;
    if (!QDir().mkpath(m_options.downloadDirectory)) {
        fail(
            Phase::failed,
            QStringLiteral("The folder %1 could not be created.").arg(m_options.downloadDirectory));
        return;
    }
    m_finalPath = QDir(m_options.downloadDirectory).filePath(packageFileName(m_item));
    m_file = std::make_unique<QFile>(m_finalPath + QStringLiteral(".part"));
    if (!m_file->open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        const QString why = m_file->errorString();
        m_file.reset();
        fail(Phase::failed, QStringLiteral("The update could not be saved: %1.").arg(why));
        return;
    }
    m_received = 0;
    m_abortReason.clear();
    setPhase(Phase::downloading, true);
    Q_EMIT progressChanged(0, m_item.length);

    QNetworkRequest request(m_item.url);
    request.setHeader(QNetworkRequest::UserAgentHeader, userAgent());
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    m_reply = network()->get(request);
    QNetworkReply* reply = m_reply;
    auto armStallTimer = [this, reply] {
        m_timeoutTask.cancel();
        m_timeoutTask = m_clock->schedule(kDownloadStallTimeout, this, [this, reply] {
            if (m_reply != reply)
                return;
            m_abortReason = QStringLiteral("the download stalled: nothing arrived for %1 seconds")
                                .arg(kDownloadStallTimeout);
            reply->abort();
        });
    };
    armStallTimer();
    connect(reply, &QNetworkReply::readyRead, this, [this, reply, armStallTimer] {
        if (!m_file)
            return;
        const QByteArray chunk = reply->readAll();
        if (m_received + chunk.size() > m_item.length) {
            m_abortReason = QStringLiteral("the download is larger than the %1 bytes the release "
                                           "feed announced")
                                .arg(m_item.length);
            reply->abort();
            return;
        }
        if (m_file->write(chunk) != chunk.size()) {
            m_abortReason =
                QStringLiteral("the update could not be saved (%1)").arg(m_file->errorString());
            reply->abort();
            return;
        }
        m_received += chunk.size();
        armStallTimer();
        Q_EMIT progressChanged(m_received, m_item.length);
        Q_EMIT phaseChanged(); // the size text
    });
    connect(reply, &QNetworkReply::finished, this, &Updater::downloadFinished);
}

void Updater::cancelDownload() {
    if (m_phase != Phase::downloading)
        return;
    m_timeoutTask.cancel();
    if (m_reply) {
        QNetworkReply* reply = m_reply;
        m_reply = nullptr;
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
    discardDownload();
    setPhase(Phase::idle, false);
}

void Updater::discardDownload() {
    if (!m_file)
        return;
    m_file->close();
    m_file->remove();
    m_file.reset();
}

void Updater::downloadFinished() {
    QNetworkReply* reply = takeFinishedReply();
    if (!reply)
        return;

    QString failure = m_abortReason;
    if (failure.isEmpty() && reply->error() != QNetworkReply::NoError) {
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        failure = status >= 400
                      ? QStringLiteral("the server answered with HTTP status %1").arg(status)
                      : QStringLiteral("the download broke off (%1)").arg(reply->errorString());
    }
    if (failure.isEmpty() && m_file) {
        const QByteArray rest = reply->readAll();
        if (m_received + rest.size() > m_item.length || m_file->write(rest) != rest.size())
            failure = QStringLiteral("the download is larger than the release feed announced");
        else
            m_received += rest.size();
    }
    if (failure.isEmpty() && m_received != m_item.length)
        failure = QStringLiteral("the download is %1 bytes, but the release feed announced %2")
                      .arg(m_received)
                      .arg(m_item.length);
    if (!failure.isEmpty()) {
        discardDownload();
        failure[0] = failure[0].toUpper();
        qWarning("velline: update download refused: %s", qPrintable(failure));
        fail(Phase::failed, failure + QStringLiteral(". Nothing was kept."));
        return;
    }
    verifyAndInstall();
}

void Updater::verifyAndInstall() {
    if (!m_file->flush()) {
        discardDownload();
        fail(Phase::failed, QStringLiteral("The update could not be saved."));
        return;
    }
    m_file->close();
    bool verified = false;
    if (m_file->open(QIODevice::ReadOnly)) {
        const qint64 size = m_file->size();
        uchar* mapped = size > 0 ? m_file->map(0, size) : nullptr;
        if (mapped && size == m_item.length) {
            verified = ed25519::verify(
                m_options.publicKey,
                QByteArray::fromRawData(reinterpret_cast<const char*>(mapped), size),
                m_item.edSignature);
        }
        if (mapped)
            m_file->unmap(mapped);
        m_file->close();
    }
    if (!verified) {
        discardDownload();
        qWarning("velline: update %s refused: its signature does not match",
                 qPrintable(m_item.version));
        fail(Phase::failed, QStringLiteral("The downloaded package is not signed by Velline's "
                                           "developers, so it was deleted."));
        return;
    }
    QFile::remove(m_finalPath);
    if (!m_file->rename(m_finalPath)) {
        discardDownload();
        fail(Phase::failed, QStringLiteral("The update could not be saved."));
        return;
    }
    m_file.reset();
    runInstaller(m_finalPath);
}

void Updater::runInstaller(const QString& path) {
    const InstallCommand& command = m_options.installCommand;
    QStringList arguments;
    for (const QString& argument : command.arguments)
        arguments.append(argument == QLatin1String("%f") ? path : argument);
    if (arguments.isEmpty()) {
        fail(Phase::failed, QStringLiteral("This build has no way to install packages."));
        return;
    }
    const QString program = arguments.takeFirst();
    if (!command.waits) {
        if (!QProcess::startDetached(program, arguments)) {
            fail(Phase::failed, QStringLiteral("%1 could not be started.").arg(program));
            return;
        }
        setPhase(Phase::handedOff, true);
        return;
    }
    setPhase(Phase::installing, true);
    auto* process = new QProcess(this);
    m_installer = process;
    process->setProcessChannelMode(QProcess::MergedChannels);
    connect(process, &QProcess::errorOccurred, this, [this, process, program](auto error) {
        if (error != QProcess::FailedToStart)
            return;
        process->deleteLater();
        fail(Phase::failed, QStringLiteral("%1 could not be started.").arg(program));
    });
    connect(process, &QProcess::finished, this,
            [this, process, path](int code, QProcess::ExitStatus status) {
                process->deleteLater();
                const QByteArray output = process->readAll().trimmed();
                if (status == QProcess::NormalExit && code == 0) {
                    QFile::remove(path);
                    setPhase(Phase::installed, true);
                    return;
                }
                qWarning("velline: installing the update failed (exit status %d): %s", code,
                         output.right(2000).constData());
                // pkexec: 126 when the user dismissed the password prompt, 127 when refused.
                if (code == 126 || code == 127)
                    fail(Phase::failed, QStringLiteral("The installation was cancelled. The "
                                                       "package is kept in %1.")
                                            .arg(QFileInfo(path).absolutePath()));
                else
                    fail(Phase::failed, QStringLiteral("The package manager could not install "
                                                       "the update (exit status %1).")
                                            .arg(code));
            });
    process->start(program, arguments);
}

} // namespace velline
