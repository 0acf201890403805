#include "CScreenClock.h"

#include "CTerminalScreen.h"

CScreenClock::CScreenClock(CTerminalScreen& screen, std::function<bool()> mayDrain)
    : m_screen(screen), m_mayDrain(std::move(mayDrain)), m_changes(screen) {
    m_window.setSingleShot(true);
    m_window.setTimerType(Qt::PreciseTimer);
    m_window.setInterval(kCoalesceMs);
    connect(&m_window, &QTimer::timeout, this, &CScreenClock::Coalesced);
    // A reader that comes finds what arrived while nobody watched drained within the window.
    m_changes.SetClock([this] { DrainNow(); },
                       [this] {
                           if (!m_window.isActive())
                               m_window.start();
                       });
    m_screen.SetArrival([this] { Arrived(); });
}

// Under the screen's hand-over lock, so no cue comes once this returns; a cue already posted
// goes with this object.
CScreenClock::~CScreenClock() {
    m_screen.SetArrival({});
}

void CScreenClock::Arrived() {
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!m_window.isActive())
                m_window.start();
        },
        Qt::QueuedConnection);
}

// Nobody watching: the bytes wait (the window's own refresh drains them), and the next byte
// gives the cue again.
void CScreenClock::Coalesced() {
    if (m_changes.IsWatched())
        DrainNow();
    else
        m_screen.ArmArrival();
}

// Armed first: a byte that arrives during the drain cues another one rather than waiting.
void CScreenClock::DrainNow() {
    m_screen.ArmArrival();
    if (m_mayDrain())
        m_screen.ProcessReceived();
    m_changes.Gather();
}
