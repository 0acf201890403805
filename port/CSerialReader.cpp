#include "CSerialReader.h"

#include <QMutexLocker>
#include <exception>

CSerialReader::CSerialReader(Sink sink) : m_sink(std::move(sink)), m_serial(this), m_retry(this) {
    m_retry.setInterval(kRetryMs);
    connect(&m_serial, &QSerialPort::readyRead, this, &CSerialReader::OnReadyRead);
    connect(&m_serial, &QSerialPort::errorOccurred, this, &CSerialReader::OnError);
    connect(&m_retry, &QTimer::timeout, this, &CSerialReader::OnRetry);
}

bool CSerialReader::OpenDevice(const CPortSettings& settings) {
    CloseDevice();
    m_settings = settings;
    SetStatus(State::Closed, {});
    if (!TryOpen())
        return false;
    SetStatus(State::Open, {});
    return true;
}

void CSerialReader::CloseDevice() {
    m_retry.stop();
    m_serial.close();
    SetStatus(State::Closed, LastError());
}

bool CSerialReader::TryOpen() {
    if (m_settings.m_device.isEmpty()) {
        SetStatus(CurrentState(), QStringLiteral("No serial device is configured."));
        return false;
    }
    m_serial.setPortName(m_settings.m_device);
    m_serial.setBaudRate(m_settings.m_baud);
    m_serial.setDataBits(m_settings.m_dataBits);
    m_serial.setParity(m_settings.m_parity);
    m_serial.setStopBits(m_settings.m_stopBits);
    m_serial.setFlowControl(m_settings.m_flow);
    if (m_serial.open(QIODevice::ReadOnly))
        return true;
    QString reason = m_serial.errorString();
    if (m_serial.error() == QSerialPort::PermissionError)
        reason += QStringLiteral(" (the user may need to be in the \"dialout\" group)");
    SetStatus(CurrentState(), QStringLiteral("%1: %2").arg(m_settings.m_device, reason));
    return false;
}

void CSerialReader::OnReadyRead() {
    const QByteArray data = m_serial.readAll();
    if (data.isEmpty())
        return;
    try {
        m_sink(data);
    } catch (const std::exception& e) {
        // Out of memory in the receive path: keep reading, and say what was lost.
        SetStatus(CurrentState(), QStringLiteral("%1 received bytes were lost: %2")
                                      .arg(data.size())
                                      .arg(QString::fromLocal8Bit(e.what())));
    }
}

void CSerialReader::OnError(QSerialPort::SerialPortError error) {
    // Only errors of the open device mean it is gone; a request the device refuses (modem
    // lines on a pseudo-terminal, say) does not.
    switch (error) {
    case QSerialPort::ResourceError:
    case QSerialPort::ReadError:
    case QSerialPort::DeviceNotFoundError:
    case QSerialPort::PermissionError:
    case QSerialPort::UnknownError:
        break;
    default:
        return;
    }
    if (!m_serial.isOpen())
        return; // a failed open reports through TryOpen
    // The system's text alone can be a leftover of an unrelated call; say what happened too.
    const QString what = error == QSerialPort::ReadError ? QStringLiteral("reading failed")
                                                         : QStringLiteral("the device went away");
    const QString reason =
        QStringLiteral("%1: %2 (%3)").arg(m_settings.m_device, what, m_serial.errorString());
    m_serial.close();
    SetStatus(State::Reconnecting, reason);
    m_retry.start();
}

void CSerialReader::OnRetry() {
    if (!TryOpen())
        return;
    m_retry.stop();
    SetStatus(State::Open, LastError());
}

void CSerialReader::SetStatus(State state, const QString& error) {
    const QMutexLocker lock(&m_statusMutex);
    m_state = state;
    m_lastError = error;
}

CSerialReader::State CSerialReader::CurrentState() const {
    const QMutexLocker lock(&m_statusMutex);
    return m_state;
}

QString CSerialReader::LastError() const {
    const QMutexLocker lock(&m_statusMutex);
    return m_lastError;
}
