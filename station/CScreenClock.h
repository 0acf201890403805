#pragma once

#include "CScreenChanges.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <functional>

class CTerminalScreen;

// The screen's one drain. Bytes arriving on the line give the cue; the receive queue is then
// drained at once, or kCoalesceMs after the last drain when that was more recent (so a busy line
// costs at most one drain in kCoalesceMs, and a quiet one waits for none), while anyone reads the
// changes and the line may be drained, and what changed is announced to every reader.
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
    // Starts the drain's window unless it runs.
    void Schedule();
    void Coalesced();
    void DrainNow();

    CTerminalScreen& m_screen;
    std::function<bool()> m_mayDrain;
    CScreenChanges m_changes;
    QTimer m_window;
    QElapsedTimer m_sinceDrain;
};
