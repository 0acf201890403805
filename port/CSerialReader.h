#pragma once

#include "CPortSettings.h"

#include <QByteArrayView>
#include <QMutex>
#include <QObject>
#include <QSerialPort>
#include <QTimer>
#include <functional>

// Owns the serial device on a thread of its own, so a busy window can never leave the kernel's
// small receive buffer unread. Every chunk read goes to the sink, on that thread, in order.
// A device that goes away (adapter pulled, read error, hang-up) is closed at once and reopened
// about once a second until it is back; from the owner's point of view the port stays open.
class CSerialReader : public QObject {
    Q_OBJECT
public:
    enum class State { Closed, Open, Reconnecting };
    using Sink = std::function<void(QByteArrayView)>;
    static constexpr int kRetryMs = 1000;

    explicit CSerialReader(Sink sink);

    // Run on the reader's thread (the owner calls them through a blocking queued call).
    bool OpenDevice(const CPortSettings& settings);
    void CloseDevice();

    // Any thread.
    State CurrentState() const;
    QString LastError() const;

private:
    bool TryOpen();
    void OnReadyRead();
    void OnError(QSerialPort::SerialPortError error);
    void OnRetry();
    void SetStatus(State state, const QString& error);

    Sink m_sink;
    QSerialPort m_serial;
    QTimer m_retry;
    CPortSettings m_settings;

    mutable QMutex m_statusMutex;
    State m_state = State::Closed;
    QString m_lastError;
};
