#include "update/updatedialog.h"

#include "desktop/buildinfo.h"
#include "update/updater.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace velline {

const QString UpdateDialog::kSkipTitle = QStringLiteral("Skip This Version");
const QString UpdateDialog::kRemindTitle = QStringLiteral("Remind Me Later");
const QString UpdateDialog::kInstallTitle = QStringLiteral("Install Update");

namespace {

// Release notes come from the network: they may show text and links, but never load anything
// (no images from this machine's files, no remote fetches).
class NotesBrowser : public QTextBrowser {
public:
    using QTextBrowser::QTextBrowser;
    QVariant loadResource(int, const QUrl&) override { return {}; }
};

} // namespace

UpdateDialog::UpdateDialog(Updater* updater, QWidget* parent)
    : QDialog(parent), m_updater(updater) {
    setWindowTitle(QStringLiteral("Software Update"));
    setWindowIcon(QIcon::fromTheme(QLatin1String(buildinfo::kAppId)));
    setObjectName(QStringLiteral("updateDialog"));

    auto* icon = new QLabel(this);
    const QIcon appIcon = QIcon::fromTheme(QLatin1String(buildinfo::kAppId));
    if (!appIcon.isNull())
        icon->setPixmap(appIcon.pixmap(64, 64));
    icon->setAlignment(Qt::AlignTop);
    icon->setVisible(!appIcon.isNull());

    m_headline = new QLabel(this);
    m_headline->setObjectName(QStringLiteral("headline"));
    QFont big = m_headline->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.15);
    m_headline->setFont(big);
    m_headline->setWordWrap(true);
    m_text = new QLabel(this);
    m_text->setObjectName(QStringLiteral("informativeText"));
    m_text->setWordWrap(true);
    m_text->setTextFormat(Qt::PlainText);

    m_notesCaption = new QLabel(QStringLiteral("Release Notes:"), this);
    QFont bold = m_notesCaption->font();
    bold.setBold(true);
    m_notesCaption->setFont(bold);
    m_notes = new NotesBrowser(this);
    m_notes->setObjectName(QStringLiteral("releaseNotes"));
    m_notes->setOpenLinks(false);
    m_notes->setMinimumSize(420, 180);
    connect(m_notes, &QTextBrowser::anchorClicked, this, [](const QUrl& url) {
        if (url.scheme() == QLatin1String("https") || url.scheme() == QLatin1String("http"))
            QDesktopServices::openUrl(url);
    });

    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("progress"));
    m_progress->setTextVisible(false);
    m_progress->setRange(0, 1000);

    auto button = [this](const QString& title) {
        auto* b = new QPushButton(title, this);
        b->setAutoDefault(false);
        return b;
    };
    m_skip = button(kSkipTitle);
    m_remind = button(kRemindTitle);
    m_install = button(kInstallTitle);
    m_cancel = button(QStringLiteral("Cancel"));
    m_later = button(QStringLiteral("Later"));
    m_restart = button(QStringLiteral("Restart Velline"));
    m_ok = button(QStringLiteral("OK"));
    connect(m_skip, &QPushButton::clicked, updater, &Updater::skipThisVersion);
    connect(m_remind, &QPushButton::clicked, updater, &Updater::remindMeLater);
    connect(m_install, &QPushButton::clicked, updater, &Updater::installUpdate);
    connect(m_cancel, &QPushButton::clicked, updater, &Updater::dismiss);
    connect(m_later, &QPushButton::clicked, updater, &Updater::dismiss);
    connect(m_restart, &QPushButton::clicked, updater, &Updater::restartNow);
    connect(m_ok, &QPushButton::clicked, updater, &Updater::dismiss);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_skip);
    buttons->addStretch(1);
    for (QPushButton* b : {m_remind, m_install, m_cancel, m_later, m_restart, m_ok})
        buttons->addWidget(b);

    auto* column = new QVBoxLayout;
    column->addWidget(m_headline);
    column->addWidget(m_text);
    column->addSpacing(6);
    column->addWidget(m_notesCaption);
    column->addWidget(m_notes, 1);
    column->addWidget(m_progress);
    column->addSpacing(6);
    column->addLayout(buttons);

    auto* top = new QHBoxLayout(this);
    top->addWidget(icon, 0, Qt::AlignTop);
    top->addSpacing(8);
    top->addLayout(column, 1);
    setMinimumWidth(560);

    connect(updater, &Updater::phaseChanged, this, &UpdateDialog::refresh);
    connect(updater, &Updater::progressChanged, this, &UpdateDialog::showProgress);
    connect(updater, &Updater::presentRequested, this, &UpdateDialog::present);
    connect(updater, &Updater::closeRequested, this, &QDialog::hide);
    refresh();
}

UpdateDialog::~UpdateDialog() = default;

void UpdateDialog::refresh() {
    using Phase = Updater::Phase;
    const Phase phase = m_updater->phase();
    if (phase == Phase::idle) {
        hide();
        return;
    }
    m_headline->setText(m_updater->headline());
    m_text->setText(m_updater->informativeText());
    m_text->setVisible(!m_text->text().isEmpty());

    const bool offer = phase == Phase::updateAvailable;
    const AppcastItem& item = m_updater->offeredItem();
    if (offer) {
        if (!item.description.isEmpty())
            m_notes->setHtml(item.description);
        else if (item.releaseNotesLink.isValid())
            m_notes->setHtml(QStringLiteral("<p><a href=\"%1\">Read the release notes</a></p>")
                                 .arg(item.releaseNotesLink.toString(QUrl::FullyEncoded)));
        else
            m_notes->setPlainText(QStringLiteral("No release notes were given."));
    }
    m_notesCaption->setVisible(offer);
    m_notes->setVisible(offer);

    const bool busy = phase == Phase::checking || phase == Phase::installing;
    m_progress->setVisible(busy || phase == Phase::downloading);
    if (busy)
        m_progress->setRange(0, 0);
    else
        m_progress->setRange(0, 1000);

    m_skip->setVisible(offer);
    m_remind->setVisible(offer);
    m_install->setVisible(offer);
    m_cancel->setVisible(phase == Phase::downloading || phase == Phase::checking);
    m_later->setVisible(phase == Phase::installed);
    m_restart->setVisible(phase == Phase::installed);
    const bool acknowledge = phase == Phase::noFeed || phase == Phase::upToDate ||
                             phase == Phase::checkFailed || phase == Phase::failed ||
                             phase == Phase::handedOff;
    m_ok->setVisible(acknowledge);
    // Return presses this one. Decided by the phase alone: while the window is still hidden
    // (its first showing, or again after it was closed) no button counts as visible yet. A
    // download is never the default's to stop: Cancel, Escape and closing the window do that.
    QPushButton* main = offer                       ? m_install
                        : phase == Phase::installed ? m_restart
                        : acknowledge               ? m_ok
                                                    : nullptr;
    for (QPushButton* b : {m_skip, m_remind, m_install, m_cancel, m_later, m_restart, m_ok})
        b->setDefault(b == main);
    if (phase != m_shownPhase)
        adjustSize();
    m_shownPhase = phase;
}

void UpdateDialog::showProgress(qint64 received, qint64 total) {
    if (m_updater->phase() != Updater::Phase::downloading || total <= 0)
        return;
    m_progress->setRange(0, 1000);
    m_progress->setValue(int(std::min<qint64>(1000, received * 1000 / total)));
}

void UpdateDialog::present() {
    refresh();
    if (m_updater->phase() == Updater::Phase::idle)
        return;
    show();
    raise();
    activateWindow();
}

void UpdateDialog::closeEvent(QCloseEvent* event) {
    event->accept();
    m_updater->dismiss();
}

void UpdateDialog::keyPressEvent(QKeyEvent* event) {
    // Escape closes like the window's close button, with the same meaning.
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace velline
