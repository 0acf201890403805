#pragma once

#include <QString>

// Where the line is, read from the device setting: a serial device path, or a network address
// tcp://HOST:PORT (raw bytes from a device server), rfc2217://HOST:PORT (Telnet with the
// COM-PORT option) or listen://[ADDRESS]:PORT (a device server that dials in). IPv6 literals are
// written in brackets: tcp://[::1]:4001. mqtt:// and mqtts:// mirror a line published to a broker
// (see CMqttAddress).
struct CLineAddress {
    enum class Kind { Serial, Tcp, Rfc2217, Listen, Mqtt };

    Kind m_kind = Kind::Serial;
    QString m_host; // a host name or IP address; for listen, empty means every address
    quint16 m_port = 0;

    // Empty problem when the device text can be used, otherwise what is wrong, in words.
    static CLineAddress Parse(const QString& device, QString& problem);
    // Empty when the device text can be used.
    static QString Problem(const QString& device);
};
