#pragma once

#include "update/updater.h"

#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;
class QTextBrowser;

namespace velline {

// The window of the updater: what a check found, the download's progress, the installation's
// outcome. Built on first use; it shows whatever the updater's phase calls for and forwards the
// user's answers.
class UpdateDialog : public QDialog {
    Q_OBJECT

public:
    explicit UpdateDialog(Updater* updater, QWidget* parent = nullptr);
    ~UpdateDialog() override;

    // The button titles, in the order they stand.
    static const QString kSkipTitle;
    static const QString kRemindTitle;
    static const QString kInstallTitle;

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void refresh();
    void present();
    void showProgress(qint64 received, qint64 total);

    Updater* m_updater;
    QLabel* m_headline;
    QLabel* m_text;
    QTextBrowser* m_notes;
    QLabel* m_notesCaption;
    QProgressBar* m_progress;
    QPushButton* m_skip;
    QPushButton* m_remind;
    QPushButton* m_install;
    QPushButton* m_cancel;
    QPushButton* m_later;
    QPushButton* m_restart;
    QPushButton* m_ok;
    Updater::Phase m_shownPhase = Updater::Phase::idle;
};

} // namespace velline
