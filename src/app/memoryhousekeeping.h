#pragma once

#include "clock/clock.h"

#include <QObject>
#include <QPointer>

#include <memory>

class QJSEngine;

namespace velline {

// Keeps the resident memory of a program that runs all day flat. Every refresh leaves a little
// garbage behind in the script engine (the values the views were handed); the engine collects
// it only when its own heap fills, so between collections the C heap grows by a few megabytes,
// and what the collection then frees sits in holes of the heap that the allocator does not give
// back. Once a period this collects the script garbage and hands free heap pages back to the
// system. A collection of the notch's small heap takes about a millisecond.
class MemoryHousekeeping : public QObject {
    Q_OBJECT

public:
    static constexpr double defaultPeriod = 60.0;

    MemoryHousekeeping(Clock* clock, QJSEngine* engine, double periodSeconds = defaultPeriod,
                       QObject* parent = nullptr);
    ~MemoryHousekeeping() override;

    // One round now: collect the script garbage, then release free heap memory.
    void run();
    int rounds() const { return m_rounds; }

    // Gives free pages of the C heap back to the system; false where the allocator cannot.
    static bool releaseFreeHeap();

private:
    QPointer<QJSEngine> m_engine;
    std::unique_ptr<RepeatingTimer> m_timer;
    int m_rounds = 0;
};

} // namespace velline
