#pragma once

#include "CLineReader.h"

#include <QSerialPort>

// A local serial device. A device that goes away (adapter pulled, read error, hang-up) is
// reopened about once a second until it is back.
class CSerialReader : public CLineReader {
    Q_OBJECT
public:
    explicit CSerialReader(Sink sink);

protected:
    State OpenNow() override;
    void Retry() override;
    void CloseNow() override;

private:
    bool TryOpen();
    void OnError(QSerialPort::SerialPortError error);

    QSerialPort m_serial;
};
