#include "app/runstats.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QQuickWindow>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <ctime>
#include <sys/socket.h>
#include <unistd.h>

namespace velline {

namespace {

int usr1Pipe[2] = {-1, -1};

extern "C" void onStatsSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(usr1Pipe[0], &byte, 1);
}

} // namespace

RunStats::RunStats(QObject* parent) : QObject(parent) {}

RunStats::~RunStats() {
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeEventFilter(this);
}

void RunStats::install() {
    QCoreApplication* app = QCoreApplication::instance();
    app->installEventFilter(this);
    connect(app, &QCoreApplication::aboutToQuit, this, &RunStats::print);
    if (usr1Pipe[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, usr1Pipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(usr1Pipe[1], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        char byte;
        [[maybe_unused]] const ssize_t read = ::read(usr1Pipe[1], &byte, 1);
        print();
    });
    struct sigaction action = {};
    action.sa_handler = onStatsSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGUSR1, &action, nullptr);
}

bool RunStats::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Show || event->type() == QEvent::Expose) {
        if (auto* window = qobject_cast<QQuickWindow*>(watched))
            watch(window);
    }
    return false;
}

void RunStats::watch(QQuickWindow* window) {
    if (m_watched.contains(window))
        return;
    m_watched.insert(window);
    connect(window, &QObject::destroyed, this, [this, window] { m_watched.remove(window); });
    connect(window, &QQuickWindow::frameSwapped, this, [this] {
        ++m_frames;
        if (!m_firstFrame)
            m_firstFrame = uptimeSeconds();
    });
}

QString RunStats::line() const {
    return QStringLiteral("velline-stats uptime=%1 frames=%2 first-frame=%3")
        .arg(uptimeSeconds(), 0, 'f', 3)
        .arg(m_frames)
        .arg(m_firstFrame.value_or(-1.0), 0, 'f', 3);
}

void RunStats::print() const {
    std::fprintf(stdout, "%s\n", line().toUtf8().constData());
    std::fflush(stdout);
}

double RunStats::uptimeSeconds() {
    // Field 22 of /proc/self/stat is the start time in clock ticks after boot; the command
    // name (field 2) is in parentheses and may hold spaces, so count from its end.
    QFile stat(QStringLiteral("/proc/self/stat"));
    timespec now = {};
    if (!stat.open(QIODevice::ReadOnly) || ::clock_gettime(CLOCK_BOOTTIME, &now) != 0)
        return -1;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    // After the name: field 3 is fields[0], so field 22 is fields[19].
    if (fields.size() < 20)
        return -1;
    const double started = fields.at(19).toDouble() / static_cast<double>(::sysconf(_SC_CLK_TCK));
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9 - started;
}

} // namespace velline
