// The receive path on a real serial device: a pseudo-terminal pair, or socat standing in for
// an adapter that is pulled out and plugged back.
#include "CPortWindows.h"
#include "CTempCwd.h"
#include "CTnCommMonitor.h"
#include "PortTestSupport.h"
#include "PtyPair.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTcpServer>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace {

TEST(TerminalPortLink, EveryByteValueReachesTheReceiveBufferInOrder) {
    PtyPair pty;
    CRecordingPort port;
    ASSERT_TRUE(port.OpenOn(QString::fromStdString(pty.SlavePath())))
        << port.LastError().toStdString();
    const std::string bytes = AllByteValues();
    pty.Write(bytes);
    ASSERT_TRUE(WaitUntil([&] { return port.Seen().size() >= bytes.size(); }));
    EXPECT_EQ(port.Seen(), bytes);
    EXPECT_EQ(port.PendingSize(), bytes.size());
}

TEST(TerminalPortLink, LongFeedArrivesWholeAndInOrder) {
    PtyPair pty;
    CRecordingPort port;
    ASSERT_TRUE(port.OpenOn(QString::fromStdString(pty.SlavePath())));
    std::string feed(300 * 1024, '\0');
    QRandomGenerator random(7);
    for (char& ch : feed)
        ch = static_cast<char>(random.bounded(256));
    pty.Write(feed); // more than any kernel buffer: the reader must keep up on its own
    ASSERT_TRUE(WaitUntil([&] { return port.Seen().size() >= feed.size(); }, 20000));
    EXPECT_TRUE(port.Seen() == feed);
}

TEST(TerminalPortLink, BytesAreNotHandledBeforeTheTerminalProtocolIsSelected) {
    PtyPair pty;
    CRecordingPort port;
    CPortSettings settings;
    settings.m_device = QString::fromStdString(pty.SlavePath());
    port.SetSettings(settings);
    EXPECT_FALSE(port.SetProtocol(1));
    ASSERT_TRUE(port.Open());
    pty.Write("early");
    ASSERT_TRUE(WaitUntil([&] { return pty.Unread() == 0; })) << "the port never read the line";
    ASSERT_TRUE(port.Close());
    EXPECT_EQ(port.Seen(), "");
    EXPECT_EQ(port.PendingSize(), 0u);
}

struct OpenFailure {
    const char* m_name;
    QString m_device;
    QString m_reasonPart;
};

void PrintTo(const OpenFailure& c, std::ostream* out) {
    *out << c.m_name;
}

class TerminalPortOpenFailure : public ::testing::TestWithParam<OpenFailure> {};

TEST_P(TerminalPortOpenFailure, KeepsThePortClosedAndTheReason) {
    CTempCwd cwd;
    QFile plain(cwd.File(QStringLiteral("plain.txt")));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();

    QTcpServer busy;
    ASSERT_TRUE(busy.listen(QHostAddress::LocalHost));

    CRecordingPort port;
    EXPECT_FALSE(
        port.OpenOn(QString(GetParam().m_device)
                        .replace(QLatin1String("@DIR@"), cwd.Path())
                        .replace(QLatin1String("@BUSY@"), QString::number(busy.serverPort()))));
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.DeviceState(), CLineReader::State::Closed);
    const QString reason = port.LastError();
    EXPECT_TRUE(reason.contains(
        QString(GetParam().m_reasonPart).replace(QLatin1String("@DIR@"), cwd.Path())))
        << reason.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Devices, TerminalPortOpenFailure,
    ::testing::Values(OpenFailure{"NoDevice", QString(), QStringLiteral("No serial device")},
                      OpenFailure{"Missing", QStringLiteral("@DIR@/ttyUSB9"),
                                  QStringLiteral("@DIR@/ttyUSB9: ")},
                      OpenFailure{"NotATerminal", QStringLiteral("@DIR@/plain.txt"),
                                  QStringLiteral("@DIR@/plain.txt: ")},
                      OpenFailure{"ServerRefuses", QStringLiteral("tcp://127.0.0.1:1"),
                                  QStringLiteral("tcp://127.0.0.1:1: connection refused")},
                      OpenFailure{"UnknownHost", QStringLiteral("rfc2217://no-such-host.invalid:7"),
                                  QStringLiteral("host not found")},
                      OpenFailure{"AddressInUse", QStringLiteral("listen://127.0.0.1:@BUSY@"),
                                  QStringLiteral("listen://127.0.0.1:")}),
    [](const auto& info) { return std::string(info.param.m_name); });

TEST(TerminalPortLink, SettingsAssignmentLeavesTheScreenAlone) {
    CTerminalPort live;
    for (const char ch : std::string("Hello\r\nwor"))
        live.HandleTerminalData(ch);
    live.ProcessReceived();
    live.HandleTerminalData('x'); // not drained yet
    const std::vector<std::string> rows = live.Rows();
    const int row = live.Row();
    const int col = live.Col();

    CTerminalPort scratch;
    CPortSettings settings;
    settings.m_device = QStringLiteral("/dev/ttyS3");
    settings.m_baud = 19200;
    settings.m_parity = QSerialPort::EvenParity;
    scratch.SetSettings(settings);
    scratch.HandleTerminalData('Z');
    live = scratch;

    EXPECT_EQ(live.Settings(), settings);
    EXPECT_EQ(live.Rows(), rows);
    EXPECT_EQ(live.Row(), row);
    EXPECT_EQ(live.Col(), col);
    EXPECT_EQ(live.PendingSize(), 1u);
}

// A line whose far end goes away and comes back: a USB adapter (socat's pseudo-terminal behind
// a link) pulled out and plugged back, or a device server (ser2net) stopped and started again.
class CAwayLine {
public:
    virtual ~CAwayLine() = default;
    virtual QString Device() const = 0;
    virtual bool Start() = 0;
    virtual void Stop() = 0;
    // Sends once the far end can deliver.
    virtual bool Write(const std::string& bytes) = 0;

protected:
    CTempCwd m_cwd;
};

class CSocatAway : public CAwayLine {
public:
    QString Device() const override { return m_cwd.File(QStringLiteral("ttyUSB0")); }
    bool Start() override { return m_line.Start(); }
    void Stop() override { m_line.Stop(); }
    bool Write(const std::string& bytes) override {
        m_line.Write(QByteArray::fromStdString(bytes));
        return true;
    }

private:
    CSocatLine m_line{Device()};
};

class CSer2NetAway : public CAwayLine {
public:
    QString Device() const override { return m_server.Address(CSer2Net::Raw); }
    bool Start() override { return m_server.Start(); }
    void Stop() override { m_server.Stop(); }
    bool Write(const std::string& bytes) override {
        // ser2net drops what the device receives before it has the device open.
        if (!WaitUntil([&] { return m_server.DeviceInUse(); }))
            return false;
        m_pty.Write(bytes);
        return true;
    }

private:
    PtyPair m_pty;
    CSer2Net m_server{QString::fromStdString(m_pty.SlavePath()), m_cwd.Path()};
};

struct AwayCase {
    const char* m_name;
    std::function<std::unique_ptr<CAwayLine>()> m_make;
    const char* m_whenGone;  // in the error as soon as the line noticed
    const char* m_whileAway; // in the error after a while of trying again
};

void PrintTo(const AwayCase& c, std::ostream* out) {
    *out << c.m_name;
}

class LineAway : public ::testing::TestWithParam<AwayCase> {};

TEST_P(LineAway, IsReopenedWithoutSpinning) {
    const std::unique_ptr<CAwayLine> line = GetParam().m_make();
    ASSERT_TRUE(line->Start());
    CRecordingPort port;
    ASSERT_TRUE(port.OpenOn(line->Device())) << port.LastError().toStdString();
    port.ViewMonitor(1);
    ASSERT_TRUE(line->Write("before|"));
    ASSERT_TRUE(WaitUntil([&] { return port.Seen() == "before|"; }));

    line->Stop();
    ASSERT_TRUE(WaitUntil([&] { return port.DeviceState() == CLineReader::State::Reconnecting; }));
    EXPECT_TRUE(port.IsOpen());
    EXPECT_TRUE(port.LastError().contains(QLatin1String(GetParam().m_whenGone)))
        << port.LastError().toStdString();

    // While it is away the program waits on timers instead of polling the line.
    const double cpuAway = CpuWhileIdle(3000);
    RecordProperty("cpu_seconds_in_3s_away", std::to_string(cpuAway));
    EXPECT_LT(cpuAway, 0.3 * 3.0);
    EXPECT_TRUE(port.LastError().contains(QLatin1String(GetParam().m_whileAway)))
        << port.LastError().toStdString();
    EXPECT_TRUE(
        CPortWindows::Instance().Monitor(port)->StateText().contains(QLatin1String("reconnecting")))
        << CPortWindows::Instance().Monitor(port)->StateText().toStdString();

    ASSERT_TRUE(line->Start()); // plugged back in
    ASSERT_TRUE(WaitUntil([&] { return port.DeviceState() == CLineReader::State::Open; }));
    ASSERT_TRUE(line->Write("after"));
    ASSERT_TRUE(WaitUntil([&] { return port.Seen() == "before|after"; }));
    EXPECT_EQ(port.PendingSize(), 12u);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, LineAway,
    ::testing::Values(AwayCase{"UsbAdapter", [] { return std::make_unique<CSocatAway>(); },
                               "ttyUSB0", "ttyUSB0"},
                      AwayCase{"DeviceServer", [] { return std::make_unique<CSer2NetAway>(); },
                               "closed by the server", "connection refused"}),
    [](const auto& info) { return std::string(info.param.m_name); });

} // namespace
