#include "CScreenClock.h"

#include "CTerminalScreen.h"

#include <algorithm>

CScreenClock::CScreenClock(CTerminalScreen& screen, std::function<bool()> mayDrain)
    : m_screen(screen), m_mayDrain(std::move(mayDrain)), m_changes(screen) {
    m_window.setSingleShot(true);
    m_window.setTimerType(Qt::PreciseTimer);
    connect(&m_window, &QTimer::timeout, this, &CScreenClock::Coalesced);
    // A reader that comes finds what arrived while nobody watched drained on the next turn.
    m_changes.SetClock([this] { DrainNow(); },
                       [this] {
                           if (!m_window.isActive())
                               m_window.start(0);
                       });
    m_screen.SetArrival([this] { Arrived(); });
}

// Under the screen's hand-over lock, so no cue comes once this returns; a cue already posted
// goes with this object.
CScreenClock::~CScreenClock() {
    m_screen.SetArrival({});
}

void CScreenClock::Arrived() {
    QMetaObject::invokeMethod(this, &CScreenClock::Cued, Qt::QueuedConnection);
}

void CScreenClock::Cued() {
    if (m_window.isActive())
        return;
    const qint64 since = m_sinceDrain.isValid() ? m_sinceDrain.elapsed() : kCoalesceMs;
    if (since >= kCoalesceMs)
        Coalesced();
    else
        m_window.start(int(kCoalesceMs - since));
}

// Nobody watching: the bytes wait (the window's own refresh drains them) and no further byte
// gives a cue, so an unwatched line costs nothing here; the next reader to come drains them. A
// closed line is armed for when it opens again.
void CScreenClock::Coalesced() {
    if (!m_changes.IsWatched())
        return;
    if (!m_mayDrain())
        m_screen.ArmArrival(true);
    else if (m_screen.ArmArrival())
        DrainNow();
}

// The window that follows looks for bytes that came meanwhile.
void CScreenClock::DrainNow() {
    m_sinceDrain.start();
    if (m_mayDrain())
        m_screen.ProcessReceived();
    m_changes.Gather();
    m_window.start(kCoalesceMs);
}
