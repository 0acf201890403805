#include "CScreenClock.h"

#include "CTerminalScreen.h"

#include <algorithm>

CScreenClock::CScreenClock(CTerminalScreen& screen, std::function<bool()> mayDrain)
    : m_screen(screen), m_mayDrain(std::move(mayDrain)), m_changes(screen) {
    m_window.setSingleShot(true);
    m_window.setTimerType(Qt::PreciseTimer);
    connect(&m_window, &QTimer::timeout, this, &CScreenClock::Coalesced);
    // A reader that comes finds what arrived while nobody watched drained within the window.
    m_changes.SetClock([this] { DrainNow(); }, [this] { Schedule(); });
    m_screen.SetArrival([this] { Arrived(); });
}

// Under the screen's hand-over lock, so no cue comes once this returns; a cue already posted
// goes with this object.
CScreenClock::~CScreenClock() {
    m_screen.SetArrival({});
}

void CScreenClock::Arrived() {
    QMetaObject::invokeMethod(this, &CScreenClock::Schedule, Qt::QueuedConnection);
}

void CScreenClock::Schedule() {
    if (m_window.isActive())
        return;
    const qint64 since = m_sinceDrain.isValid() ? m_sinceDrain.elapsed() : kCoalesceMs;
    m_window.start(int(std::max<qint64>(0, kCoalesceMs - since)));
}

// Nobody watching: the bytes wait (the window's own refresh drains them) and no further byte
// gives a cue, so an unwatched line costs nothing here; the next reader to come re-arms it.
void CScreenClock::Coalesced() {
    if (m_changes.IsWatched())
        DrainNow();
}

// Armed first: a byte that arrives during the drain cues another one rather than waiting.
void CScreenClock::DrainNow() {
    m_sinceDrain.start();
    m_screen.ArmArrival();
    if (m_mayDrain())
        m_screen.ProcessReceived();
    m_changes.Gather();
}
