#pragma once

#include <QObject>
#include <QString>

namespace velline {

// Checks Velline's release feed for newer builds and installs them. The status menu's
// "Check for Updates…" and the General pane's switch and button use exactly this surface:
// a user-visible check, and the automatic-check flag.
class Updater : public QObject {
    Q_OBJECT
    // Whether Velline looks for new builds on its own (at most once a day). Stored with the
    // preferences; on by default.
    Q_PROPERTY(bool automaticallyChecksForUpdates READ automaticallyChecksForUpdates WRITE
                   setAutomaticallyChecksForUpdates NOTIFY automaticallyChecksForUpdatesChanged)
    // False when this build has no release feed (it is updated by its package manager).
    Q_PROPERTY(bool canCheckForUpdates READ canCheckForUpdates NOTIFY canCheckForUpdatesChanged)

public:
    explicit Updater(QObject* parent = nullptr);
    ~Updater() override;

    bool automaticallyChecksForUpdates() const;
    void setAutomaticallyChecksForUpdates(bool on);
    bool canCheckForUpdates() const;

    // "Velline v1.0.0 (1)": the version and build number of this build.
    static QString versionText();

public Q_SLOTS:
    // Starts a check the user sees: its result (new build, up to date, failure) is shown.
    void checkForUpdates();

Q_SIGNALS:
    void automaticallyChecksForUpdatesChanged();
    void canCheckForUpdatesChanged();

private:
    bool m_automatic = true;
};

} // namespace velline
