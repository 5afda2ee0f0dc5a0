#include "app/memoryhousekeeping.h"

#include <QJSEngine>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace velline {

MemoryHousekeeping::MemoryHousekeeping(Clock* clock, QJSEngine* engine, double periodSeconds,
                                       QObject* parent)
    : QObject(parent), m_engine(engine),
      m_timer(std::make_unique<RepeatingTimer>(clock, periodSeconds, this, [this] { run(); })) {}

MemoryHousekeeping::~MemoryHousekeeping() = default;

void MemoryHousekeeping::run() {
    ++m_rounds;
    if (m_engine)
        m_engine->collectGarbage();
    releaseFreeHeap();
}

bool MemoryHousekeeping::releaseFreeHeap() {
#if defined(__GLIBC__)
    malloc_trim(0);
    return true;
#else
    return false;
#endif
}

} // namespace velline
