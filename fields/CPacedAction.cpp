#include "CPacedAction.h"

CPacedAction::CPacedAction(int intervalMs, std::function<void()> action)
    : m_action(std::move(action)) {
    m_interval.setSingleShot(true);
    m_interval.setTimerType(Qt::PreciseTimer);
    m_interval.setInterval(intervalMs);
    connect(&m_interval, &QTimer::timeout, this, &CPacedAction::IntervalEnded);
}

void CPacedAction::Request() {
    if (m_interval.isActive()) {
        m_owed = true;
        return;
    }
    m_interval.start();
    m_action();
}

void CPacedAction::IntervalEnded() {
    if (std::exchange(m_owed, false))
        Request();
}
