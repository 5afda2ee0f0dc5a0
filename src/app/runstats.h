#pragma once

#include <QObject>
#include <QSet>

#include <optional>

class QQuickWindow;

namespace velline {

// `velline --stats`: counts the frames every Qt Quick window of the process draws and notes when
// the first one was drawn, so a measuring script can tell how much drawing the program does.
// A line of figures goes to standard output on SIGUSR1 and when the program ends:
//
//   velline-stats uptime=62.418 frames=131 first-frame=0.287
//
// uptime and first-frame are seconds since the process started (first-frame is -1 until a frame
// has been drawn). Nothing is watched, and nothing costs, unless the option is given.
class RunStats : public QObject {
    Q_OBJECT

public:
    explicit RunStats(QObject* parent = nullptr);
    ~RunStats() override;

    // Starts watching windows (an application-wide filter that only looks at show events),
    // prints on SIGUSR1, and prints once more when the application is about to quit.
    void install();

    qint64 frames() const { return m_frames; }
    std::optional<double> firstFrameSeconds() const { return m_firstFrame; }
    QString line() const;
    void print() const;

    // Counts the frames of `window` from now on (once per window).
    void watch(QQuickWindow* window);

    // Seconds since this process started, from the kernel's record of its start.
    static double uptimeSeconds();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QSet<QQuickWindow*> m_watched;
    qint64 m_frames = 0;
    std::optional<double> m_firstFrame;
};

} // namespace velline
