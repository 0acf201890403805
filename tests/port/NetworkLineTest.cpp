// The line over the network, against a real device server: ser2net serving one end of a
// pseudo-terminal pair, the test playing the statistics computer on the other end.
#include "CModalAnswerer.h"
#include "CMosquitto.h"
#include "CNetworkCable.h"
#include "CPortWindows.h"
#include "CTempCwd.h"
#include "CTnCommMonitor.h"
#include "PortTestSupport.h"
#include "PtyPair.h"

#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

using State = CLineReader::State;

class DeviceServer : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_server.Start()) << "ser2net did not start"; }

    CTempCwd m_cwd;
    PtyPair m_pty;
    CSer2Net m_server{QString::fromStdString(m_pty.SlavePath()), m_cwd.Path()};
};

class DeviceServerAccepter : public DeviceServer,
                             public ::testing::WithParamInterface<CSer2Net::Accepter> {};

TEST_P(DeviceServerAccepter, EveryByteValueArrivesInOrder) {
    CRecordingPort port;
    ASSERT_TRUE(port.OpenOn(m_server.Address(GetParam()))) << port.LastError().toStdString();
    std::string bytes = AllByteValues();
    bytes += "\xff\xff\r\n\r"; // a doubled IAC on the wire is two of them, CR NUL stays binary
    bytes += '\0';
    ASSERT_TRUE(WaitUntil([&] { return m_server.DeviceInUse(); }));
    m_pty.Write(bytes);
    ASSERT_TRUE(WaitUntil([&] { return port.Seen().size() >= bytes.size(); }));
    EXPECT_EQ(port.Seen(), bytes);
    EXPECT_EQ(port.PendingSize(), bytes.size());
}

INSTANTIATE_TEST_SUITE_P(Accepters, DeviceServerAccepter,
                         ::testing::Values(CSer2Net::Raw, CSer2Net::Rfc2217), [](const auto& info) {
                             return std::string(info.param == CSer2Net::Raw ? "Raw" : "Rfc2217");
                         });

TEST_F(DeviceServer, Rfc2217SettingsReachTheSerialSide) {
    CRecordingPort port;
    CPortSettings settings;
    settings.m_device = m_server.Address(CSer2Net::Rfc2217);
    settings.m_baud = 19200;
    settings.m_dataBits = QSerialPort::Data7;
    settings.m_parity = QSerialPort::OddParity;
    settings.m_stopBits = QSerialPort::TwoStop;
    port.SetSettings(settings);
    port.SetProtocol(CTerminalPort::kTerminalProtocol);
    ASSERT_TRUE(port.Open()) << port.LastError().toStdString();

    // A pseudo-terminal always keeps 8 bits without parity (the kernel resets those flags), so
    // only the others show on the serial side; the server answers all five as taken.
    const QStringList wanted{QStringLiteral("speed 19200 baud"), QStringLiteral(" parodd "),
                             QStringLiteral(" cstopb ")};
    const auto applied = [&] {
        const QString termios = Stty(m_pty.SlavePath());
        return std::all_of(wanted.begin(), wanted.end(),
                           [&](const QString& w) { return termios.contains(w); });
    };
    EXPECT_TRUE(WaitUntil(applied)) << Stty(m_pty.SlavePath()).toStdString();
    ASSERT_TRUE(WaitUntil([&] { return m_server.DeviceInUse(); }));
    m_pty.Write("data");
    ASSERT_TRUE(WaitUntil([&] { return port.Seen() == "data"; }));
    const QString answers = QStringLiteral("the device server took baud rate 19200, data bits 7, "
                                           "parity Odd, stop bits 2, flow control None");
    EXPECT_TRUE(WaitUntil([&] { return port.LineNotice() == answers; }))
        << port.LineNotice().toStdString();
}

struct SettingsNotTaken {
    const char* m_name;
    CSer2Net::Accepter m_accepter;
    QSerialPort::StopBits m_stopBits;
    QString m_notice;
};

void PrintTo(const SettingsNotTaken& c, std::ostream* out) {
    *out << c.m_name;
}

class DeviceServerSettings : public DeviceServer,
                             public ::testing::WithParamInterface<SettingsNotTaken> {};

TEST_P(DeviceServerSettings, AreNotedInTheMonitorWhileDataFlows) {
    CRecordingPort port;
    CPortSettings settings;
    settings.m_device = m_server.Address(GetParam().m_accepter);
    settings.m_stopBits = GetParam().m_stopBits;
    port.SetSettings(settings);
    port.SetProtocol(CTerminalPort::kTerminalProtocol);
    ASSERT_TRUE(port.Open()) << port.LastError().toStdString();
    port.ViewMonitor(1);
    ASSERT_TRUE(WaitUntil([&] { return m_server.DeviceInUse(); }));
    m_pty.Write("a\xff"
                "b");
    ASSERT_TRUE(WaitUntil([&] {
        return port.Seen() == "a\xff"
                              "b";
    }));
    EXPECT_TRUE(WaitUntil([&] { return port.LineNotice().contains(GetParam().m_notice); }))
        << port.LineNotice().toStdString();
    EXPECT_EQ(port.DeviceState(), State::Open);
    const QString line = settings.m_device.replace(QStringLiteral("://"), QStringLiteral(" "));
    EXPECT_TRUE(WaitUntil([&] {
        const QString text = CPortWindows::Instance().Monitor(port)->StateText();
        return text.startsWith(QStringLiteral("Line %1: connected\n").arg(line)) &&
               text.contains(QStringLiteral("Line settings: ") + port.LineNotice());
    })) << CPortWindows::Instance().Monitor(port)->StateText().toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Servers, DeviceServerSettings,
    ::testing::Values(SettingsNotTaken{"NoComPortOption", CSer2Net::TelnetOnly,
                                       QSerialPort::OneStop,
                                       QStringLiteral("does not take line settings")},
                      SettingsNotTaken{"StopBitsUnanswered", CSer2Net::Rfc2217,
                                       QSerialPort::OneAndHalfStop,
                                       QStringLiteral("did not answer for stop bits")}),
    [](const auto& info) { return std::string(info.param.m_name); });

// The feed tool as the device server of a demo: the whole game arrives over tcp://.
TEST(TcpLine, ReceivesTheGameFromTheFeedToolsDeviceServer) {
    QFile sample(QStringLiteral(TALLYVIEW_SAMPLE_CAPTURE));
    ASSERT_TRUE(sample.open(QIODevice::ReadOnly));
    const std::string game = sample.readAll().toStdString();
    QProcess feed;
    feed.start(QStringLiteral(TALLYVIEW_FEED),
               {QStringLiteral("--baud"), QStringLiteral("4000000"), QStringLiteral("--listen"),
                QStringLiteral("0"), sample.fileName()});
    ASSERT_TRUE(feed.waitForReadyRead(5000)) << feed.readAllStandardError().toStdString();
    const QString tcpPort = QString::fromLatin1(feed.readLine()).trimmed();

    CRecordingPort port;
    ASSERT_TRUE(port.OpenOn(QStringLiteral("tcp://127.0.0.1:") + tcpPort))
        << port.LastError().toStdString();
    // At the end the server closes and the line comes back for the game once more.
    ASSERT_TRUE(WaitUntil([&] { return port.Seen().size() >= game.size(); }, 15000))
        << port.Seen().size();
    EXPECT_TRUE(port.Seen().compare(0, game.size(), game) == 0);
    feed.terminate();
    feed.waitForFinished();
}

// A cable pulled between the line and its device server: no end of file, no reset, silence.
// The line notices by itself, says it timed out, and comes back once the cable is in again.
TEST(TcpLine, NoticesAPulledCableAndComesBackWhenItIsIn) {
    CNetworkCable cable;
    if (!cable.Problem().isEmpty())
        GTEST_SKIP() << "no network cable here: " << cable.Problem().toStdString();
    quint16 tcpPort = 0;
    QTcpServer server;
    ASSERT_TRUE(server.setSocketDescriptor(cable.ListenFar(tcpPort)));
    const auto nextBox = [&](int timeoutMs) {
        EXPECT_TRUE(WaitUntil([&] { return server.hasPendingConnections(); }, timeoutMs));
        return std::unique_ptr<QTcpSocket>(server.nextPendingConnection());
    };
    CRecordingPort port;
    ASSERT_TRUE(port.OpenOn(QStringLiteral("tcp://%1:%2").arg(cable.FarAddress()).arg(tcpPort)))
        << port.LastError().toStdString();
    port.ViewMonitor(1);
    auto box = nextBox(5000);
    ASSERT_TRUE(box);
    box->write("before|");
    ASSERT_TRUE(WaitUntil([&] { return port.Seen() == "before|"; }));

    ASSERT_TRUE(cable.Pull()) << cable.Problem().toStdString();
    // The kernel's keepalive gives up within 15 s; the margin is for a busy machine.
    ASSERT_TRUE(WaitUntil([&] { return port.DeviceState() == State::Reconnecting; }, 15000 + 3000))
        << "not noticed within 15 s";
    EXPECT_TRUE(port.IsOpen());
    EXPECT_TRUE(port.LastError().contains(QLatin1String("timed out")))
        << port.LastError().toStdString();
    EXPECT_TRUE(WaitUntil([&] {
        return CPortWindows::Instance().Monitor(port)->StateText().contains(
            QLatin1String("Last error: ") + port.LastError());
    })) << CPortWindows::Instance().Monitor(port)->StateText().toStdString();

    ASSERT_TRUE(cable.PlugIn()) << cable.Problem().toStdString();
    box = nextBox(20000);
    ASSERT_TRUE(box);
    ASSERT_TRUE(WaitUntil([&] { return port.DeviceState() == State::Open; }));
    box->write("after");
    ASSERT_TRUE(WaitUntil([&] { return port.Seen() == "before|after"; }));
}

// A line whose far end is behind a pulled cable, restored from the settings file as the window
// does at start; a timer on the same thread counts its ticks until the open has an outcome.
class SilentFarEnd : public ::testing::Test {
protected:
    void SetUp() override {
        if (!m_cable.Problem().isEmpty())
            GTEST_SKIP() << "no network cable here: " << m_cable.Problem().toStdString();
        ASSERT_TRUE(m_cable.Pull()) << m_cable.Problem().toStdString();
        m_ticker.callOnTimeout([this] { m_ticks += m_outcomes == 0 ? 1 : 0; });
        m_port.SetOpenFinished([this] { ++m_outcomes; });
    }

    void LoadSettings(const QString& device) {
        ASSERT_TRUE(WriteSettingsFile(m_port.SettingsPath(), device));
        m_ticker.start(10);
        m_port.LoadSettings();
    }

    CTempCwd m_cwd;
    CNetworkCable m_cable;
    CTerminalPort m_port;
    QTimer m_ticker;
    int m_ticks = 0;    // before the outcome
    int m_outcomes = 0; // of the open
};

// The thread that opens goes on with its events for the whole attempt, and the failure is then
// reported with the message and the reason it always had.
TEST_F(SilentFarEnd, NeverAnsweringFailsTheOpenWithoutHoldingUpTheThread) {
    const struct {
        QString m_device; // @FAR@ for the far end's address
        QString m_reason;
    } cases[] = {
        {QStringLiteral("tcp://@FAR@:4001"), QStringLiteral("tcp://@FAR@:4001: timed out")},
        {QStringLiteral("mqtt://@FAR@:4001/hall"), QStringLiteral("mqtt://@FAR@:4001/hall: ")}};
    for (const auto& c : cases) {
        const QString device = QString(c.m_device).replace("@FAR@", m_cable.FarAddress());
        SCOPED_TRACE(device.toStdString());
        CModalAnswerer answerer({}, CModalAnswerer::Ok);
        m_ticks = 0;
        m_outcomes = 0;
        LoadSettings(device);
        ASSERT_TRUE(WaitUntil([&] { return !answerer.Messages().isEmpty(); }, 15000));
        EXPECT_GE(m_ticks, 20);
        EXPECT_EQ(m_outcomes, 1);
        ASSERT_EQ(answerer.Messages().size(), 1);
        EXPECT_EQ(answerer.Messages().front().m_text,
                  QStringLiteral("Unable to OPEN the port previously configured!"));
        const QString reason = answerer.Messages().front().m_detail;
        EXPECT_TRUE(reason.startsWith(QString(c.m_reason).replace("@FAR@", m_cable.FarAddress())))
            << reason.toStdString();
        EXPECT_FALSE(m_port.IsOpen());
        EXPECT_EQ(m_port.DeviceState(), State::Closed);
        EXPECT_TRUE(m_port.LineStatus().contains(QStringLiteral("Last error: ") + reason));
    }
}

// The cable goes in while the open is under way: the port opens, says so, and the line's bytes
// arrive.
TEST_F(SilentFarEnd, AnsweringLateOpensThePort) {
    quint16 tcpPort = 0;
    QTcpServer server;
    ASSERT_TRUE(server.setSocketDescriptor(m_cable.ListenFar(tcpPort)));
    CModalAnswerer answerer({}, CModalAnswerer::Ok);
    LoadSettings(QStringLiteral("tcp://%1:%2").arg(m_cable.FarAddress()).arg(tcpPort));
    ASSERT_TRUE(WaitUntil([&] { return m_ticks >= 5; }));
    EXPECT_FALSE(m_port.IsOpen());
    EXPECT_EQ(m_port.DeviceState(), State::Opening);
    ASSERT_TRUE(m_cable.PlugIn()) << m_cable.Problem().toStdString();
    ASSERT_TRUE(WaitUntil([&] { return m_outcomes == 1; }, 10000))
        << answerer.Texts().join(' ').toStdString();
    EXPECT_TRUE(m_port.IsOpen());
    EXPECT_TRUE(answerer.Messages().isEmpty());
    ASSERT_TRUE(WaitUntil([&] { return server.hasPendingConnections(); }));
    std::unique_ptr<QTcpSocket> box(server.nextPendingConnection());
    box->write("late");
    EXPECT_TRUE(WaitUntil([&] { return m_port.PendingSize() == 4; }));
}

// Of a broker's nodes, the first behind the pulled cable: the mirror opens on the next, within
// the time an open waits.
TEST_F(SilentFarEnd, MirrorOpensOnTheNextNodeWhenTheFirstIsSilent) {
    CMosquitto broker;
    ASSERT_TRUE(broker.Start());
    CModalAnswerer answerer({}, CModalAnswerer::Ok);
    LoadSettings(QStringLiteral("mqtt://%1:1883,127.0.0.1:%2/hall")
                     .arg(m_cable.FarAddress())
                     .arg(broker.Port()));
    ASSERT_TRUE(WaitUntil([&] { return m_outcomes == 1; }, 15000));
    EXPECT_TRUE(m_port.IsOpen()) << answerer.Texts().join(' ').toStdString();
    EXPECT_TRUE(answerer.Messages().isEmpty());
}

// socat playing a device server that dials in and sends text.
class CDialIn {
public:
    bool Start(quint16 port) {
        m_process.start(QStringLiteral("socat"),
                        {QStringLiteral("STDIO"), QStringLiteral("TCP:127.0.0.1:%1").arg(port)});
        return m_process.waitForStarted();
    }
    void Write(const QByteArray& bytes) {
        m_process.write(bytes);
        m_process.waitForBytesWritten();
    }
    void Stop() {
        m_process.terminate();
        m_process.waitForFinished();
    }
    ~CDialIn() { Stop(); }

private:
    QProcess m_process;
};

TEST(ListenLine, DeviceServerDialsInDropsAndDialsAgain) {
    const quint16 tcpPort = FreeTcpPort();
    CRecordingPort port;
    ASSERT_TRUE(port.OpenOn(QStringLiteral("listen://127.0.0.1:%1").arg(tcpPort)))
        << port.LastError().toStdString();
    EXPECT_EQ(port.DeviceState(), State::Waiting);

    CDialIn box;
    ASSERT_TRUE(box.Start(tcpPort));
    ASSERT_TRUE(WaitUntil([&] { return port.DeviceState() == State::Open; }));
    EXPECT_TRUE(port.LineLink().startsWith(
        QStringLiteral("listen 127.0.0.1:%1, device server 127.0.0.1:").arg(tcpPort)))
        << port.LineLink().toStdString();
    box.Write("first|");
    ASSERT_TRUE(WaitUntil([&] { return port.Seen() == "first|"; }));
    box.Stop();
    ASSERT_TRUE(WaitUntil([&] { return port.DeviceState() == State::Waiting; }));
    EXPECT_TRUE(port.IsOpen());

    CDialIn again;
    ASSERT_TRUE(again.Start(tcpPort));
    ASSERT_TRUE(WaitUntil([&] { return port.DeviceState() == State::Open; }));
    again.Write("second");
    ASSERT_TRUE(WaitUntil([&] { return port.Seen() == "first|second"; }));
}

} // namespace
