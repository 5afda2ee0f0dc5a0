#pragma once

#include "clock/clock.h"
#include "notch/motion.h"

#include <QQuickItem>
#include <QtQmlIntegration/qqmlintegration.h>

namespace velline {

// One symbol's content in the carousel while it changes: it slides in from `side` (-1 the
// leading edge, +1 the trailing edge) and fades in, or slides out toward `side` and fades out,
// on the carousel spring. At rest it stands at `inset`; `travel` is how far it goes (the view's
// width). It moves itself at the frames of the notch's clock, shared with the rolls and the
// flashes beside it, so a slide costs no binding per frame and adds no frames of its own to a
// roll's.
class CarouselSlide : public QQuickItem {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(int side READ side WRITE setSide NOTIFY placeChanged)
    Q_PROPERTY(bool leaving READ isLeaving WRITE setLeaving NOTIFY placeChanged)
    Q_PROPERTY(double travel READ travel WRITE setTravel NOTIFY placeChanged)
    Q_PROPERTY(double inset READ inset WRITE setInset NOTIFY placeChanged)
    // 0 → 1 over the slide (past 1 where the spring overshoots); 1 at rest.
    Q_PROPERTY(double progress READ progress WRITE setProgress NOTIFY placeChanged)
    Q_PROPERTY(bool isRunning READ isRunning NOTIFY runningChanged)

public:
    explicit CarouselSlide(QQuickItem* parent = nullptr);
    CarouselSlide(Clock* clock, QQuickItem* parent);

    int side() const { return m_side; }
    void setSide(int side);
    bool isLeaving() const { return m_leaving; }
    void setLeaving(bool leaving);
    double travel() const { return m_travel; }
    void setTravel(double travel);
    double inset() const { return m_inset; }
    void setInset(double inset);
    double progress() const { return m_progress; }
    // Stops a running slide there.
    void setProgress(double progress);
    bool isRunning() const { return m_moving; }

    // Starts the slide from its beginning (again, if it was running).
    Q_INVOKABLE void run();

Q_SIGNALS:
    void placeChanged();
    void runningChanged();
    // The slide reached its end.
    void finished();

private:
    // Where the content stands at its progress, and how opaque it is.
    void place();
    // Sets one of the values place() reads.
    template <typename T> void change(T& field, T value);
    void step();

    Clock* m_clock;
    int m_side = 1;
    bool m_leaving = false;
    double m_travel = 0;
    double m_inset = 0;
    double m_progress = 1;
    double m_start = 0;
    bool m_moving = false;
    FrameTicker m_ticker;
};

} // namespace velline
