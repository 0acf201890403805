#include "CLineReader.h"

#include <QMutexLocker>
#include <exception>
#include <utility>

QString CLineReader::StateWords(State state) {
    switch (state) {
    case State::Open:
        return QStringLiteral("open");
    case State::Reconnecting:
        return QStringLiteral("reconnecting (the line is away; retrying every second)");
    case State::Waiting:
        return QStringLiteral("waiting for the device server to connect");
    case State::Opening:
        return QStringLiteral("connecting");
    case State::Closed:
        break;
    }
    return QStringLiteral("closed");
}

CLineReader::CLineReader(Sink sink) : m_sink(std::move(sink)), m_openTimer(this), m_retry(this) {
    m_openTimer.setSingleShot(true);
    m_openTimer.setTimerType(Qt::PreciseTimer);
    m_openTimer.setInterval(kOpenMs);
    connect(&m_openTimer, &QTimer::timeout, this, [this] {
        SetError(OpenTimedOut());
        OpenDone(State::Closed);
    });
    m_retry.setInterval(kRetryMs);
    connect(&m_retry, &QTimer::timeout, this, &CLineReader::Retry);
}

CLineReader::State CLineReader::OpenLine(const CPortSettings& settings, Outcome outcome) {
    CloseLine();
    m_settings = settings;
    SetStatus(State::Closed, {});
    SetNotice({});
    if (const QString problem = settings.Problem(); !problem.isEmpty()) {
        SetError(problem);
        return State::Closed;
    }
    SetStatus(State::Opening, {});
    // An attempt may also end before OpenNow returns (a refusal the system knows at once); the
    // outcome is then the state returned, and `outcome` is not called.
    if (const State state = OpenNow(); state != State::Opening) {
        OpenDone(state);
    } else if (CurrentState() == State::Opening) {
        m_outcome = std::move(outcome);
        m_openTimer.start();
    }
    return CurrentState();
}

QString CLineReader::OpenTimedOut() const {
    return QStringLiteral("%1: timed out").arg(m_settings.m_device);
}

void CLineReader::OpenDone(State state) {
    if (CurrentState() != State::Opening)
        return;
    m_openTimer.stop();
    if (state == State::Closed)
        CloseNow();
    SetStatus(state, state == State::Closed ? LastError() : QString());
    if (const Outcome outcome = std::exchange(m_outcome, {}))
        outcome(state != State::Closed);
}

void CLineReader::CloseLine() {
    m_outcome = {};
    m_openTimer.stop();
    m_retry.stop();
    CloseNow();
    SetStatus(State::Closed, LastError());
}

void CLineReader::Deliver(QByteArrayView data) {
    if (data.isEmpty())
        return;
    try {
        // A reader that fell behind may hold megabytes: every part of the program takes them
        // in pieces of a size it was made for.
        for (qsizetype at = 0; at < data.size(); at += kMaxChunk)
            m_sink(data.sliced(at, std::min(kMaxChunk, data.size() - at)));
    } catch (const std::exception& e) {
        // Out of memory in the receive path: keep reading, and say what was lost.
        SetError(QStringLiteral("%1 received bytes were lost: %2")
                     .arg(data.size())
                     .arg(QString::fromLocal8Bit(e.what())));
    }
}

void CLineReader::LineLost(const QString& reason) {
    CloseNow();
    SetStatus(State::Reconnecting, reason);
    m_retry.start();
}

void CLineReader::LineBack() {
    m_retry.stop();
    SetStatus(State::Open, LastError());
}

void CLineReader::SetStatus(State state, const QString& error) {
    const QMutexLocker lock(&m_statusMutex);
    m_state = state;
    m_lastError = error;
}

void CLineReader::SetError(const QString& error) {
    const QMutexLocker lock(&m_statusMutex);
    m_lastError = error;
}

void CLineReader::SetNotice(const QString& notice) {
    const QMutexLocker lock(&m_statusMutex);
    m_notice = notice;
}

CLineReader::State CLineReader::CurrentState() const {
    const QMutexLocker lock(&m_statusMutex);
    return m_state;
}

QString CLineReader::LastError() const {
    const QMutexLocker lock(&m_statusMutex);
    return m_lastError;
}

QString CLineReader::Notice() const {
    const QMutexLocker lock(&m_statusMutex);
    return m_notice;
}

void CLineReader::SetLink(const QString& link) {
    const QMutexLocker lock(&m_statusMutex);
    m_link = link;
}

QString CLineReader::Link() const {
    const QMutexLocker lock(&m_statusMutex);
    return m_link;
}
