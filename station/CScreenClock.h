#pragma once

#include "CScreenChanges.h"

#include <QObject>
#include <QTimer>
#include <functional>

class CTerminalScreen;

// The screen's one drain. Bytes arriving on the line give the cue; the receive queue is then
// drained once, kCoalesceMs after the first of them (so a burst costs one drain), while anyone
// reads the changes and the line may be drained, and what changed is announced to every reader.
class CScreenClock : public QObject {
public:
    static constexpr int kCoalesceMs = 10;

    // mayDrain tells whether the screen may be drained now (the port is open).
    CScreenClock(CTerminalScreen& screen, std::function<bool()> mayDrain);
    ~CScreenClock() override;
    CScreenClock(const CScreenClock&) = delete;
    CScreenClock& operator=(const CScreenClock&) = delete;

    CScreenChanges& Changes() { return m_changes; }

private:
    // On the receiving thread: the cue goes over to this one.
    void Arrived();
    void Coalesced();
    void DrainNow();

    CTerminalScreen& m_screen;
    std::function<bool()> m_mayDrain;
    CScreenChanges m_changes;
    QTimer m_window;
};
