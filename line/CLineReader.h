#pragma once

#include "CPortSettings.h"

#include <QByteArrayView>
#include <QMutex>
#include <QObject>
#include <QTimer>
#include <functional>

// One line the port reads from, whatever carries it. A reader lives on the port's reader thread,
// so a busy window can never leave the line unread; the owner calls OpenLine and CloseLine
// through a blocking queued call, and neither waits on the network: a connection under way
// reports its outcome later. Every chunk read goes to the sink, on that thread, in order.
// A line that goes away is closed at once and tried again about once a second; from the owner's
// point of view the port stays open meanwhile.
class CLineReader : public QObject {
    Q_OBJECT
public:
    // Waiting: open, but nothing is connected yet (a device server that dials in).
    // Opening: the first connection is under way; the open has no outcome yet.
    enum class State { Closed, Open, Reconnecting, Waiting, Opening };
    using Sink = std::function<void(QByteArrayView)>;
    // The outcome of an open that was still under way when OpenLine returned.
    using Outcome = std::function<void(bool opened)>;
    static constexpr int kRetryMs = 1000;
    // How long a first connection may take before the open fails.
    static constexpr int kOpenMs = 5000;
    // The largest piece of the line handed on at once.
    static constexpr qsizetype kMaxChunk = 64 * 1024;

    // The state in words, for the monitor and the log.
    static QString StateWords(State state);

    // Reader's thread. The state the line is in: Closed (LastError says why) when it failed,
    // Opening when `outcome` follows, on this thread, unless CloseLine comes first.
    State OpenLine(const CPortSettings& settings, Outcome outcome);
    void CloseLine();

    // Any thread.
    State CurrentState() const;
    QString LastError() const;
    // What the far end did with the line settings it was asked for; not an error.
    QString Notice() const;
    // What carries a network line and who is at the far end ("tcp 10.0.0.5:4001"); empty for
    // a serial device.
    QString Link() const;

protected:
    explicit CLineReader(Sink sink);

    // The first attempt: the state the line is then in, Closed (with SetError) when it failed,
    // Opening when the attempt is under way and OpenDone follows (or kOpenMs pass).
    virtual State OpenNow() = 0;
    // Why an open still under way after kOpenMs failed.
    virtual QString OpenTimedOut() const;
    // One more attempt while reconnecting; success is reported through LineBack().
    virtual void Retry() = 0;
    virtual void CloseNow() = 0;

    const CPortSettings& Settings() const { return m_settings; }
    // Ends an open under way: Open or Waiting, or Closed after SetError. Nothing while none is.
    void OpenDone(State state);
    void Deliver(QByteArrayView data);
    // The open line went away: it is closed and tried again every kRetryMs.
    void LineLost(const QString& reason);
    void LineBack();
    void SetStatus(State state, const QString& error);
    void SetError(const QString& error);
    void SetNotice(const QString& notice);
    void SetLink(const QString& link);

private:
    Sink m_sink;
    Outcome m_outcome;
    QTimer m_openTimer;
    QTimer m_retry;
    CPortSettings m_settings;

    mutable QMutex m_statusMutex;
    State m_state = State::Closed;
    QString m_lastError;
    QString m_notice;
    QString m_link;
};
