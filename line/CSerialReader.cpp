#include "CSerialReader.h"

CSerialReader::CSerialReader(Sink sink) : CLineReader(std::move(sink)), m_serial(this) {
    connect(&m_serial, &QSerialPort::readyRead, this, [this] { Deliver(m_serial.readAll()); });
    connect(&m_serial, &QSerialPort::errorOccurred, this, &CSerialReader::OnError);
}

CLineReader::State CSerialReader::OpenNow() {
    return TryOpen() ? State::Open : State::Closed;
}

void CSerialReader::Retry() {
    if (TryOpen())
        LineBack();
}

void CSerialReader::CloseNow() {
    m_serial.close();
}

bool CSerialReader::TryOpen() {
    const CPortSettings& settings = Settings();
    if (settings.m_device.isEmpty()) {
        SetError(QStringLiteral("No serial device is configured."));
        return false;
    }
    m_serial.setPortName(settings.m_device);
    m_serial.setBaudRate(settings.m_baud);
    m_serial.setDataBits(settings.m_dataBits);
    m_serial.setParity(settings.m_parity);
    m_serial.setStopBits(settings.m_stopBits);
    m_serial.setFlowControl(settings.m_flow);
    if (m_serial.open(QIODevice::ReadOnly))
        return true;
    QString reason = m_serial.errorString();
    if (m_serial.error() == QSerialPort::PermissionError)
        reason += QStringLiteral(" (the user may need to be in the \"dialout\" group)");
    SetError(QStringLiteral("%1: %2").arg(settings.m_device, reason));
    return false;
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
    LineLost(QStringLiteral("%1: %2 (%3)").arg(Settings().m_device, what, m_serial.errorString()));
}
