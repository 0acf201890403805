// The configuration dialog: what it shows, what it returns and what it refuses.
#include "CModalAnswerer.h"
#include "CTnCommDlgPortCfg.h"
#include "PortTestSupport.h"

#include <QComboBox>
#include <gtest/gtest.h>

namespace {

CPortSettings Settings(const char* device, qint32 baud, QSerialPort::DataBits dataBits,
                       QSerialPort::Parity parity, QSerialPort::StopBits stopBits,
                       QSerialPort::FlowControl flow) {
    return {QString::fromLatin1(device), baud, dataBits, parity, stopBits, flow};
}

class PortConfigDialogRoundTrip : public ::testing::TestWithParam<CPortSettings> {};

TEST_P(PortConfigDialogRoundTrip, AcceptingUnchangedFieldsReturnsTheSameSettings) {
    CTerminalPort port;
    port.SetSettings(GetParam());
    CTnCommDlgPortCfg dialog(&port, 0, nullptr);
    port.SetSettings(CPortSettings{QStringLiteral("/dev/other")});
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(port.Settings(), GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Settings, PortConfigDialogRoundTrip,
    ::testing::Values(Settings("/dev/ttyS0", 9600, QSerialPort::Data8, QSerialPort::NoParity,
                               QSerialPort::OneStop, QSerialPort::NoFlowControl),
                      Settings("/dev/ttyUSB1", 250000, QSerialPort::Data7, QSerialPort::EvenParity,
                               QSerialPort::TwoStop, QSerialPort::SoftwareControl),
                      Settings("/dev/serial/by-id/usb-FTDI_A1-if00-port0", 300, QSerialPort::Data5,
                               QSerialPort::MarkParity, QSerialPort::OneAndHalfStop,
                               QSerialPort::HardwareControl),
                      Settings("/tmp/feed link", 1200, QSerialPort::Data6, QSerialPort::SpaceParity,
                               QSerialPort::OneStop, QSerialPort::NoFlowControl),
                      Settings("/dev/ttyAMA0", 57600, QSerialPort::Data8, QSerialPort::OddParity,
                               QSerialPort::TwoStop, QSerialPort::NoFlowControl),
                      Settings("rfc2217://[fe80::1]:2001", 9600, QSerialPort::Data7,
                               QSerialPort::EvenParity, QSerialPort::OneStop,
                               QSerialPort::NoFlowControl),
                      Settings("listen://:4001", 9600, QSerialPort::Data8, QSerialPort::NoParity,
                               QSerialPort::OneStop, QSerialPort::NoFlowControl)));

struct InvalidEntry {
    const char* m_name;
    QString m_device;
    QString m_baud;
    QString m_message;
};

void PrintTo(const InvalidEntry& c, std::ostream* out) {
    *out << c.m_name;
}

class PortConfigDialogRefuses : public ::testing::TestWithParam<InvalidEntry> {};

TEST_P(PortConfigDialogRefuses, SaysWhyAndStaysOpen) {
    CTerminalPort port;
    const CPortSettings before =
        Settings("/dev/ttyS0", 9600, QSerialPort::Data8, QSerialPort::NoParity,
                 QSerialPort::OneStop, QSerialPort::NoFlowControl);
    port.SetSettings(before);
    CTnCommDlgPortCfg dialog(&port, 0, nullptr);
    dialog.show();
    dialog.findChild<QComboBox*>(QStringLiteral("device"))->setEditText(GetParam().m_device);
    dialog.findChild<QComboBox*>(QStringLiteral("baud"))->setEditText(GetParam().m_baud);
    CModalAnswerer answerer({}, CModalAnswerer::Ok);
    dialog.accept();

    ASSERT_EQ(answerer.Messages().size(), 1);
    EXPECT_TRUE(answerer.Messages().front().m_text.contains(GetParam().m_message))
        << answerer.Messages().front().m_text.toStdString();
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(port.Settings(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Entries, PortConfigDialogRefuses,
    ::testing::Values(InvalidEntry{"EmptyDevice", QString(), QStringLiteral("9600"),
                                   QStringLiteral("device")},
                      InvalidEntry{"BlankDevice", QStringLiteral("   "), QStringLiteral("9600"),
                                   QStringLiteral("device")},
                      InvalidEntry{"LetterBaud", QStringLiteral("/dev/ttyS0"),
                                   QStringLiteral("fast"), QStringLiteral("baud rate")},
                      InvalidEntry{"EmptyBaud", QStringLiteral("/dev/ttyS0"), QString(),
                                   QStringLiteral("baud rate")},
                      InvalidEntry{"ZeroBaud", QStringLiteral("/dev/ttyS0"), QStringLiteral("0"),
                                   QStringLiteral("baud rate")},
                      InvalidEntry{"NegativeBaud", QStringLiteral("/dev/ttyS0"),
                                   QStringLiteral("-9600"), QStringLiteral("baud rate")},
                      InvalidEntry{"FractionBaud", QStringLiteral("/dev/ttyS0"),
                                   QStringLiteral("9600.5"), QStringLiteral("baud rate")},
                      InvalidEntry{"HugeBaud", QStringLiteral("/dev/ttyS0"),
                                   QStringLiteral("99999999999"), QStringLiteral("baud rate")},
                      InvalidEntry{"UnknownScheme", QStringLiteral("udp://10.0.0.5:4001"),
                                   QStringLiteral("9600"), QStringLiteral("\"udp://\" is not")},
                      InvalidEntry{"NoPort", QStringLiteral("tcp://10.0.0.5"),
                                   QStringLiteral("9600"), QStringLiteral("lacks the port")},
                      InvalidEntry{"PortTooBig", QStringLiteral("tcp://box:65536"),
                                   QStringLiteral("9600"), QStringLiteral("\"65536\"")},
                      InvalidEntry{"PortNotANumber", QStringLiteral("rfc2217://box:telnet"),
                                   QStringLiteral("9600"), QStringLiteral("\"telnet\"")},
                      InvalidEntry{"NoHost", QStringLiteral("tcp://:4001"), QStringLiteral("9600"),
                                   QStringLiteral("lacks the host")},
                      InvalidEntry{"BadHostName", QStringLiteral("tcp://box one:4001"),
                                   QStringLiteral("9600"), QStringLiteral("\"box one\"")},
                      InvalidEntry{"BareIpv6", QStringLiteral("tcp://::1:4001"),
                                   QStringLiteral("9600"), QStringLiteral("in brackets")},
                      InvalidEntry{"OpenBracket", QStringLiteral("tcp://[::1:4001"),
                                   QStringLiteral("9600"), QStringLiteral("closing \"]\"")},
                      InvalidEntry{"ListenOnAName", QStringLiteral("listen://box:4001"),
                                   QStringLiteral("9600"), QStringLiteral("IP address")}),
    [](const auto& info) { return std::string(info.param.m_name); });

} // namespace
