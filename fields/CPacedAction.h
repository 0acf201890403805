#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <deque>
#include <functional>

// An action run at once when asked, but never more than kRuns times in any kRuns intervals nor
// twice within nine tenths of one: what is asked meanwhile runs once, as soon as that allows.
// So an output follows a quiet line, and one changing as often as the bound allows, without
// delay, and a busier line at a bounded rate (a bare minimum gap of one interval would hold
// every change of a line that changes exactly that often back by up to an interval).
class CPacedAction : public QObject {
public:
    static constexpr int kRuns = 10;

    CPacedAction(int intervalMs, std::function<void()> action);

    void Request();
    // Forgets a request waiting for its turn.
    void Cancel();

private:
    // Milliseconds until the bound allows the next run; 0 when it does now.
    qint64 Wait() const;

    std::function<void()> m_action;
    int m_intervalMs;
    QElapsedTimer m_clock;
    std::deque<qint64> m_runs; // the last kRuns runs, in nanoseconds on m_clock
    QTimer m_turn;
    bool m_owed = false;
};
