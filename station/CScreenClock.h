#pragma once

#include "CScreenChanges.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <functional>

class CTerminalScreen;

// The screen's one drain, while anyone reads the changes and the line may be drained. The first
// bytes to arrive on a quiet line give a cue, and are drained at once (or kCoalesceMs after the
// last drain, when that was more recent); while bytes keep coming they are drained every
// kCoalesceMs without a cue for each chunk, and the line goes quiet again on the first window
// that brought nothing. What changed is announced to every reader after each drain.
class CScreenClock : public QObject {
public:
    static constexpr int kCoalesceMs = 20;

    // mayDrain tells whether the screen may be drained now (the port is open).
    CScreenClock(CTerminalScreen& screen, std::function<bool()> mayDrain);
    ~CScreenClock() override;
    CScreenClock(const CScreenClock&) = delete;
    CScreenClock& operator=(const CScreenClock&) = delete;

    CScreenChanges& Changes() { return m_changes; }

private:
    // On the receiving thread: the cue goes over to this one.
    void Arrived();
    // On the cue: drains now, or when the window since the last drain ends.
    void Cued();
    void Coalesced();
    void DrainNow();

    CTerminalScreen& m_screen;
    std::function<bool()> m_mayDrain;
    CScreenChanges m_changes;
    QTimer m_window;
    QElapsedTimer m_sinceDrain;
};
