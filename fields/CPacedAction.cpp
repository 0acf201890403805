#include "CPacedAction.h"

#include <algorithm>

CPacedAction::CPacedAction(int intervalMs, std::function<void()> action)
    : m_action(std::move(action)), m_intervalMs(intervalMs) {
    m_clock.start();
    m_turn.setSingleShot(true);
    m_turn.setTimerType(Qt::PreciseTimer);
    connect(&m_turn, &QTimer::timeout, this, [this] {
        if (std::exchange(m_owed, false))
            Request();
    });
}

qint64 CPacedAction::Wait() const {
    if (m_runs.empty())
        return 0;
    constexpr qint64 kMs = 1000000;
    qint64 earliest = m_runs.back() + qint64(m_intervalMs) * kMs * 9 / 10;
    if (m_runs.size() == kRuns)
        earliest = std::max(earliest, m_runs.front() + qint64(kRuns) * m_intervalMs * kMs);
    return std::max<qint64>(0, (earliest - m_clock.nsecsElapsed() + kMs - 1) / kMs);
}

void CPacedAction::Request() {
    if (m_turn.isActive()) {
        m_owed = true;
        return;
    }
    if (const qint64 wait = Wait(); wait > 0) {
        m_owed = true;
        m_turn.start(int(wait));
        return;
    }
    m_runs.push_back(m_clock.nsecsElapsed());
    if (m_runs.size() > kRuns)
        m_runs.pop_front();
    m_action();
}

void CPacedAction::Cancel() {
    m_owed = false;
    m_turn.stop();
}
