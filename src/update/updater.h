#pragma once

#include "clock/clock.h"
#include "update/appcast.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <memory>

class QFile;
class QNetworkAccessManager;
class QNetworkReply;
class QProcess;
class QSettings;

namespace velline {

class UpdateDialog;

// Checks Velline's release feed for newer builds and installs them. The status menu's
// "Check for Updates…" and the General pane's switch and button use exactly this surface:
// a user-visible check, and the automatic-check flag.
//
// The feed is a Sparkle-style appcast (see appcast.h). Automatic checks run at most once a day,
// the first a few minutes after start, and stay silent unless a newer build that the user has not
// skipped exists. A chosen update is downloaded, its length and Ed25519 signature checked against
// the key built into the program, and the package handed to the system's installer.
class Updater : public QObject {
    Q_OBJECT
    // Whether Velline looks for new builds on its own (at most once a day). Stored with the
    // preferences; on by default.
    Q_PROPERTY(bool automaticallyChecksForUpdates READ automaticallyChecksForUpdates WRITE
                   setAutomaticallyChecksForUpdates NOTIFY automaticallyChecksForUpdatesChanged)
    // False when this build has no release feed (it is updated by its package manager).
    Q_PROPERTY(bool canCheckForUpdates READ canCheckForUpdates NOTIFY canCheckForUpdatesChanged)
    Q_PROPERTY(velline::Updater::Phase phase READ phase NOTIFY phaseChanged)
    Q_PROPERTY(QString headline READ headline NOTIFY phaseChanged)
    Q_PROPERTY(QString informativeText READ informativeText NOTIFY phaseChanged)

public:
    enum class Phase {
        idle,            // nothing to show
        checking,        // the feed is being read
        noFeed,          // a check in a build without a release feed
        upToDate,        // a user-started check found nothing newer
        checkFailed,     // a user-started check failed
        updateAvailable, // a newer build is offered
        downloading,
        installing, // the installer command runs
        installed,  // the installer finished; a restart is offered
        handedOff,  // the package was opened in the desktop's software installer
        failed,     // download, verification or installation failed
    };
    Q_ENUM(Phase)

    // How a verified package is installed: the command with "%f" standing for the package's
    // path. `waits`: the command installs and its exit status tells the outcome (pkexec apt-get);
    // otherwise it only hands the package to another program (xdg-open).
    struct InstallCommand {
        QStringList arguments;
        bool waits = true;
    };

    struct Options {
        QUrl feedUrl;      // empty: no release feed
        QString publicKey; // base64 Ed25519 public key
        QString currentVersion;
        Clock* clock = nullptr;        // the system clock when null
        QSettings* settings = nullptr; // not owned; the preferences file when null
        QString downloadDirectory;     // where packages land before installing
        InstallCommand installCommand;
        std::function<void()> restart; // starts a new Velline and ends this one
        bool showsDialogs = true;      // only where a QApplication exists
    };
    // What this build uses: the feed and key it was built with (VELLINE_UPDATE_FEED_URL in the
    // environment replaces the feed; set empty, it turns checking off), pkexec apt-get or
    // xdg-open, the user's cache folder.
    static Options defaultOptions();

    explicit Updater(QObject* parent = nullptr);
    explicit Updater(Options options, QObject* parent = nullptr);
    ~Updater() override;

    bool automaticallyChecksForUpdates() const;
    void setAutomaticallyChecksForUpdates(bool on);
    bool canCheckForUpdates() const;

    // "Velline v1.0.0 (1)": the version and build number of this build.
    static QString versionText();

    Phase phase() const { return m_phase; }
    // What the dialog says in the current phase.
    QString headline() const;
    QString informativeText() const;
    // The offered release (valid from updateAvailable on).
    const AppcastItem& offeredItem() const { return m_item; }
    QString currentVersion() const { return m_options.currentVersion; }
    qint64 bytesReceived() const { return m_received; }
    // Why the last check, download or installation failed, in plain words.
    QString failureReason() const { return m_failure; }

    // Stored state: the last check (seconds since the epoch, 0 when never) and the version the
    // user chose to skip.
    double lastCheckTime() const;
    QString skippedVersion() const;
    // When the next automatic check is due (seconds since the epoch), or 0 when none is planned.
    double nextAutomaticCheck() const { return m_nextAutomatic; }
    // The dialog, once built.
    UpdateDialog* dialog() const;

    // Stored keys (in the preferences file, group "Updates").
    static const QString kAutomaticKey;
    static const QString kLastCheckKey;
    static const QString kSkippedVersionKey;
    // The first automatic check waits this long after start; later ones a day after the last.
    static constexpr double kFirstCheckDelay = 180.0;
    static constexpr double kCheckInterval = 24 * 3600.0;
    // A feed that has not answered in full by then is given up.
    static constexpr double kFeedTimeout = 30.0;
    // A download that receives nothing for this long is given up.
    static constexpr double kDownloadStallTimeout = 60.0;

public Q_SLOTS:
    // Starts a check the user sees: its result (new build, up to date, failure) is shown.
    void checkForUpdates();
    // The dialog's answers to an offered update.
    void installUpdate();
    void skipThisVersion();
    void remindMeLater();
    // Stops a download and deletes what arrived.
    void cancelDownload();
    // Starts the new Velline and ends this one.
    void restartNow();
    // Closes a result that needs no answer (up to date, failures, installed, "Later").
    void dismiss();

Q_SIGNALS:
    void automaticallyChecksForUpdatesChanged();
    void canCheckForUpdatesChanged();
    void phaseChanged();
    void progressChanged(qint64 received, qint64 total);
    // A phase the user should see began (the dialog shows and raises itself).
    void presentRequested();
    // The dialog should close although the phase goes on (a check or installation runs on).
    void closeRequested();

private:
    void startCheck(bool userInitiated);
    // The reply that just finished, taken out of flight (its timeout cancelled, its deletion
    // queued); none when the signal came from a reply that is no longer the current one.
    QNetworkReply* takeFinishedReply();
    void feedFinished();
    void finishCheck(const QString& failure, const Appcast& feed);
    void setPhase(Phase phase, bool present);
    void fail(Phase phase, const QString& reason);
    void scheduleAutomaticCheck();
    void automaticTimerFired();
    void downloadFinished();
    void discardDownload();
    void verifyAndInstall();
    void runInstaller(const QString& path);
    void ensureDialog();
    QNetworkAccessManager* network();

    Options m_options;
    Clock* m_clock;
    std::unique_ptr<QSettings> m_ownedSettings;
    QSettings* m_settings;
    QNetworkAccessManager* m_network = nullptr;
    Phase m_phase = Phase::idle;
    bool m_automatic = true;
    bool m_userInitiated = false;
    double m_startedAt;
    double m_nextAutomatic = 0;
    ScheduledTask m_automaticTask;
    ScheduledTask m_timeoutTask;
    QPointer<QNetworkReply> m_reply;
    QByteArray m_feedData;
    QString m_abortReason;
    AppcastItem m_item;
    std::unique_ptr<QFile> m_file;
    QString m_finalPath;
    qint64 m_received = 0;
    QPointer<QProcess> m_installer;
    QString m_failure;
    QPointer<UpdateDialog> m_dialog;
};

} // namespace velline
