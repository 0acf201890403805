#pragma once

#include <QObject>
#include <QTimer>
#include <functional>

// An action run at once when asked, but never twice within the interval: what is asked
// meanwhile runs once, as the interval ends. So an output follows a quiet line without delay
// and a busy one at a bounded rate.
class CPacedAction : public QObject {
public:
    CPacedAction(int intervalMs, std::function<void()> action);

    void Request();
    // Forgets a request waiting for the interval's end.
    void Cancel() { m_owed = false; }

private:
    void IntervalEnded();

    std::function<void()> m_action;
    QTimer m_interval;
    bool m_owed = false;
};
