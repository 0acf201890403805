#include "CJournalFolder.h"
#include "CMosquitto.h"
#include "CMqttAddress.h"
#include "CMqttClient.h"
#include "CNatsCluster.h"
#include "CRelayProcess.h"
#include "CShareConfig.h"
#include "CShareServer.h"
#include "PortTestSupport.h"
#include "PtyPair.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <algorithm>
#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>
#include <vector>

namespace {

const QString kCode = QStringLiteral("ready23456");
const QString kRelay = QStringLiteral(TALLYVIEW_RELAY);
// Every family of the line's commands, and a stray byte of each high value.
std::string Stream() {
    std::string out = "\x1b"
                      "a3R10CHome 21\x1b"
                      "F2nd period\r\x1b=\x22\x30Visitors 17\x1b"
                      "fRelay\r";
    for (int c = 0x80; c < 0x100; ++c)
        out += static_cast<char>(c);
    return out;
}

// The relay as a real process: a line on a pseudo-terminal, journalled, shared and published;
// a mirror on the broker and the journal both end in the line's exact screen, and SIGTERM
// stops it cleanly, its last word on the broker "offline".
TEST(Relay, JournalsSharesAndPublishesTheLineAndStopsOnSigterm) {
    CMosquitto broker;
    ASSERT_TRUE(broker.Start());
    PtyPair pty;
    QTemporaryDir dir;
    const QString journal = dir.filePath(QStringLiteral("journal"));
    const quint16 sharePort = FreeTcpPort();
    CRelayProcess relay(kRelay,
                        {QStringLiteral("--device"), QString::fromStdString(pty.SlavePath()),
                         QStringLiteral("--journal"), journal, QStringLiteral("--share"),
                         QString::number(sharePort), QStringLiteral("--share-code"), kCode,
                         QStringLiteral("--publish"), broker.Url(QStringLiteral("hall"))});
    ASSERT_TRUE(relay.Logged(": open")) << relay.Log().toStdString();

    CRecordingPort mirror;
    ASSERT_TRUE(mirror.OpenOn(broker.Url(QStringLiteral("hall"))));
    const std::string bytes = Stream();
    pty.Write(bytes);
    const auto mirrored = [&] {
        mirror.ProcessReceived();
        return StateOf(mirror) == FeedWhole(bytes);
    };
    EXPECT_TRUE(WaitUntil(mirrored, 20000)) << mirror.LastError().toStdString();
    EXPECT_EQ(HttpStatus(QStringLiteral("http://127.0.0.1:%1/?code=%2").arg(sharePort).arg(kCode)),
              200);

    EXPECT_EQ(relay.Stop(SIGTERM), 0);
    EXPECT_TRUE(relay.Log().contains("Stopping on signal 15")) << relay.Log().toStdString();
    EXPECT_TRUE(WaitUntil([&] { return mirror.LastError().contains(QLatin1String("offline")); }))
        << mirror.LastError().toStdString();

    CTerminalScreen restored;
    CJournalFolder(journal).Restore(restored, 1, QDateTime::currentDateTime());
    EXPECT_EQ(StateOf(restored), FeedWhole(bytes));
}

// The address the relay says it serves.
QString LoggedUrl(const QByteArray& log) {
    const qsizetype at = log.indexOf("http://");
    return at < 0 ? QString()
                  : QString::fromLatin1(log.mid(at, log.indexOf('\n', at) - at)).trimmed();
}

// The environment of a relay keeping its state in `folder` by `variable`, and no other.
QProcessEnvironment StateIn(const char* variable, const QString& folder) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("STATE_DIRECTORY"));
    environment.remove(QStringLiteral("XDG_STATE_HOME"));
    environment.insert(QLatin1String(variable), folder);
    return environment;
}

// The code of the address the relay says it serves.
QString LoggedCode(const QByteArray& log) {
    const QString url = LoggedUrl(log);
    return url.contains(QLatin1String("?code=")) ? url.section(QLatin1Char('='), -1) : QString();
}

// A relay sharing a line with no code given; its log once it serves, or once it ended.
QByteArray SharedWithoutCode(const QProcessEnvironment& environment) {
    PtyPair pty;
    CRelayProcess relay(kRelay,
                        {QStringLiteral("--device"), QString::fromStdString(pty.SlavePath()),
                         QStringLiteral("--no-journal"), QStringLiteral("--share"),
                         QString::number(FreeTcpPort())},
                        {}, environment);
    relay.Logged("Sharing the screen at ");
    EXPECT_EQ(HttpStatus(LoggedUrl(relay.Log())), 200) << relay.Log().toStdString();
    return relay.Log();
}

// Without a code in its settings or options, the relay serves the one it made at its first
// start at every later one: under systemd from its state directory, otherwise from the user's
// state folder, private to the user. A file there holding no code gets a new one, said.
TEST(Relay, KeepsTheCodeItMadeAcrossStarts) {
    struct Place {
        const char* m_variable;
        const char* m_file; // under the folder the variable names
    };
    const Place places[] = {{"STATE_DIRECTORY", "share_code"},
                            {"XDG_STATE_HOME", "tallyview/share_code"},
                            {"HOME", ".local/state/tallyview/share_code"}};
    for (const Place& place : places) {
        QTemporaryDir state;
        const QProcessEnvironment environment = StateIn(place.m_variable, state.path());
        const QString file = state.filePath(QLatin1String(place.m_file));
        const QByteArray first = SharedWithoutCode(environment);
        const QString code = LoggedCode(first);
        ASSERT_FALSE(code.isEmpty()) << first.toStdString();
        EXPECT_TRUE(first.contains(QStringLiteral("kept in %1").arg(file).toUtf8()))
            << first.toStdString();
        EXPECT_EQ(LoggedCode(SharedWithoutCode(environment)), code) << place.m_variable;
        struct stat status {};
        ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &status), 0);
        EXPECT_EQ(status.st_mode & 07777, 0600u);

        QFile spoilt(file);
        ASSERT_TRUE(spoilt.open(QIODevice::WriteOnly));
        spoilt.write(code.toLatin1() + "\ntrailing");
        spoilt.close();
        const QByteArray remade = SharedWithoutCode(environment);
        EXPECT_TRUE(remade.contains("held no usable share code")) << remade.toStdString();
        const QString made = LoggedCode(remade);
        EXPECT_NE(made, code);
        ASSERT_TRUE(spoilt.open(QIODevice::ReadOnly));
        EXPECT_EQ(spoilt.readAll(), made.toLatin1() + '\n');
    }
}

struct Refusal {
    QStringList m_arguments;
    const char* m_named; // what the complaint names
};

// Options it cannot use: refused with exit status 2, before anything starts.
TEST(Relay, RefusesOptionsItCannotUse) {
    const Refusal refusals[] = {{{"--baud", "fast"}, "--baud"},
                                {{"--baud", "0"}, "--baud"},
                                {{"--share", "70000"}, "--share"},
                                {{"--share", "0"}, "--share takes a port from 1"},
                                {{"--share", "all:0"}, "--share takes a port from 1"},
                                {{"--share", "all:"}, "--share"},
                                {{"--share-code", "ABC"}, "--share-code"},
                                {{"--device", "/dev/null", "stray"}, "stray"},
                                {{"--frobnicate"}, "frobnicate"}};
    for (const Refusal& r : refusals) {
        QProcess relay;
        relay.start(QStringLiteral(TALLYVIEW_RELAY), r.m_arguments);
        ASSERT_TRUE(relay.waitForFinished(20000)) << r.m_named;
        EXPECT_EQ(relay.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(relay.exitCode(), 2) << r.m_named;
        const QByteArray said = relay.readAllStandardError();
        EXPECT_TRUE(said.contains(r.m_named)) << said.toStdString();
    }
}

// The line from a settings file, its baud rate from --baud; no journal with --no-journal; the
// address it logs for --share is served; SIGINT stops it cleanly; the file is never written.
TEST(Relay, ReadsTheSettingsFileNeverWritesItAndStopsOnSigint) {
    PtyPair pty;
    QTemporaryDir dir;
    const QString settings = dir.filePath(QStringLiteral("Tallyview.cfg"));
    ASSERT_TRUE(WriteSettingsFile(settings, QString::fromStdString(pty.SlavePath())));
    QFile file(settings);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    const QByteArray written = file.readAll();
    const QDateTime old = QDateTime::currentDateTime().addDays(-1);
    ASSERT_TRUE(file.setFileTime(old, QFileDevice::FileModificationTime));
    file.close();

    QTemporaryDir state;
    CRelayProcess relay(kRelay,
                        {QStringLiteral("--settings"), settings, QStringLiteral("--baud"),
                         QStringLiteral("9600"), QStringLiteral("--no-journal"),
                         QStringLiteral("--share"), QString::number(FreeTcpPort())},
                        {}, StateIn("XDG_STATE_HOME", state.path()));
    ASSERT_TRUE(relay.Logged(": open")) << relay.Log().toStdString();
    EXPECT_TRUE(Stty(pty.SlavePath()).contains(QLatin1String("speed 9600 baud")));
    ASSERT_TRUE(relay.Logged("Sharing the screen at ")) << relay.Log().toStdString();
    const QString url = LoggedUrl(relay.Log());
    EXPECT_EQ(HttpStatus(url), 200) << url.toStdString();
    pty.Write("\x1b+HOME 3");
    EXPECT_TRUE(WaitUntil([&] { return pty.Unread() == 0; }));

    EXPECT_EQ(relay.Stop(SIGINT), 0);
    EXPECT_TRUE(relay.Log().contains("Stopping on signal 2")) << relay.Log().toStdString();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
              QStringList{QStringLiteral("Tallyview.cfg")});
    EXPECT_EQ(QFileInfo(settings).lastModified(), old);
    QFile after(settings);
    ASSERT_TRUE(after.open(QIODevice::ReadOnly));
    EXPECT_EQ(after.readAll(), written);
}

// Killed without a word, the publisher still goes offline on the broker: its last will.
TEST(Relay, KilledPublisherGoesOfflineByItsLastWill) {
    CMosquitto broker;
    ASSERT_TRUE(broker.Start());
    PtyPair pty;
    CRelayProcess relay(kRelay,
                        {QStringLiteral("--device"), QString::fromStdString(pty.SlavePath()),
                         QStringLiteral("--no-journal"), QStringLiteral("--publish"),
                         broker.Url(QStringLiteral("hall"))});
    ASSERT_TRUE(relay.Logged(": open")) << relay.Log().toStdString();
    CRecordingPort mirror;
    ASSERT_TRUE(mirror.OpenOn(broker.Url(QStringLiteral("hall"))));
    pty.Write("\x1b+ALIVE");
    ASSERT_TRUE(WaitUntil(
        [&] {
            mirror.ProcessReceived();
            return mirror.Rows()[0].starts_with("ALIVE");
        },
        20000));
    EXPECT_FALSE(mirror.LastError().contains(QLatin1String("offline")));
    EXPECT_EQ(relay.Stop(SIGKILL), -1);
    EXPECT_TRUE(
        WaitUntil([&] { return mirror.LastError().contains(QLatin1String("offline")); }, 20000))
        << mirror.LastError().toStdString();
}

// Under a low limit on open files, a flood from one address (fields streams, viewers and
// half-sent requests, more than the limit lets the relay hold) meets the relay's own bounds,
// which it fits in the limit: another address still gets the page and a stream, and a line
// that drops meanwhile connects again.
TEST(Relay, FloodUnderALowFileLimitShutsNoOneElseOut) {
    const QString prlimit = QStandardPaths::findExecutable(QStringLiteral("prlimit"));
    if (prlimit.isEmpty())
        GTEST_SKIP() << "prlimit is not installed (Debian package util-linux)";
    constexpr int kLimit = 256;
    QTcpServer line;
    ASSERT_TRUE(line.listen(QHostAddress::LocalHost));
    const quint16 sharePort = FreeTcpPort();
    CRelayProcess relay(prlimit,
                        {QStringLiteral("--nofile=%1:%1").arg(kLimit), QStringLiteral("--"), kRelay,
                         QStringLiteral("--device"),
                         QStringLiteral("tcp://127.0.0.1:%1").arg(line.serverPort()),
                         QStringLiteral("--no-journal"), QStringLiteral("--share"),
                         QString::number(sharePort), QStringLiteral("--share-code"), kCode});
    ASSERT_TRUE(line.waitForNewConnection(20000)) << relay.Log().toStdString();
    std::unique_ptr<QTcpSocket> fed(line.nextPendingConnection());
    ASSERT_TRUE(relay.Logged("Sharing the screen at ")) << relay.Log().toStdString();

    const QByteArray code = kCode.toLatin1();
    const QByteArray stream = "GET /fields/events?code=" + code + " HTTP/1.1\r\n\r\n";
    const QByteArray viewer = "GET /ws?code=" + code +
                              " HTTP/1.1\r\nHost: x\r\nUpgrade: websocket\r\n"
                              "Connection: Upgrade\r\n"
                              "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                              "Sec-WebSocket-Version: 13\r\n\r\n";
    const QByteArray halfSent = "GET /?code=" + code + " HTTP/1.1\r\n";
    // In rounds the relay answers before the next: a burst would only renew the requests.
    std::vector<std::unique_ptr<QTcpSocket>> flood;
    for (const QByteArray& request : {stream, viewer, halfSent})
        for (int round = 0; round < kLimit / 2 / 16; ++round) {
            const auto first = std::ssize(flood);
            for (int i = 0; i < 16; ++i) {
                auto& socket = flood.emplace_back(std::make_unique<QTcpSocket>());
                socket->setReadBufferSize(1024);
                socket->bind(QHostAddress(QStringLiteral("127.0.0.2")));
                socket->connectToHost(QHostAddress::LocalHost, sharePort);
                socket->write(request);
            }
            ASSERT_TRUE(request == halfSent || WaitUntil([&] {
                            return std::all_of(
                                flood.begin() + first, flood.end(), [](const auto& socket) {
                                    return socket->bytesAvailable() > 0 ||
                                           socket->state() == QAbstractSocket::UnconnectedState;
                                });
                        }))
                << relay.Log().toStdString();
        }
    const CShareServer::Bounds bounds = CShareServer::Fit(CShareConfig::kDefaultMaxViewers, kLimit);
    EXPECT_TRUE(relay.Logged(
        QStringLiteral("Web viewers: %1, fields streams: %1").arg(bounds.m_viewers).toLatin1()))
        << relay.Log().toStdString();

    fed.reset();
    EXPECT_TRUE(line.waitForNewConnection(20000)) << relay.Log().toStdString();
    EXPECT_EQ(HttpStatus(QStringLiteral("http://127.0.0.1:%1/?code=%2").arg(sharePort).arg(kCode)),
              200);
    QTcpSocket graphics;
    graphics.connectToHost(QHostAddress::LocalHost, sharePort);
    graphics.write(stream);
    QByteArray head;
    EXPECT_TRUE(WaitUntil([&] {
        head += graphics.readAll();
        return head.contains("data: ");
    })) << head.toStdString();
}

// Every row filled with `letter` but its last two cells, so nothing scrolls.
std::string FilledRows(char letter) {
    std::string out;
    for (int row = 1; row <= 42; ++row)
        out += "\x1b"
               "a" +
               std::to_string(row) + "R1C" + std::string(130, letter);
    return out;
}

struct PacketLimit {
    int m_broker;            // what the broker takes and says; 0: anything, and it says nothing
    QStringList m_arguments; // the relay's own
};

// A fields message over the broker's packet limit (420 fields of whole rows, about 57 KB, to a
// broker taking 32 KB, as it says or as the settings say) is dropped and said once, however many
// follow: the publisher stays connected, its records keep the mirror exact, and the next message
// that fits goes out.
void ExpectFieldsDroppedAndSaidOnce(const PacketLimit& limit) {
    CMosquitto broker;
    broker.SetMaxPacketSize(limit.m_broker);
    ASSERT_TRUE(broker.Start());
    QTemporaryDir dir;
    const QString fields = dir.filePath(QStringLiteral("fields.json"));
    QStringList definitions;
    for (int i = 0; i < 420; ++i)
        definitions << QStringLiteral(R"({"name": "f%1", "row": %2, "column": 1, "width": 132})")
                           .arg(i)
                           .arg(1 + i % 42);
    QFile file(fields);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QStringLiteral(R"({"version": 1, "fields": [%1]})")
                   .arg(definitions.join(QLatin1Char(',')))
                   .toUtf8());
    file.close();
    PtyPair pty;
    const QString url = broker.Url(QStringLiteral("hall"));
    CRelayProcess relay(
        kRelay, QStringList{QStringLiteral("--device"), QString::fromStdString(pty.SlavePath()),
                            QStringLiteral("--no-journal"), QStringLiteral("--publish"), url,
                            QStringLiteral("--fields"), fields} +
                    limit.m_arguments);
    ASSERT_TRUE(relay.Logged(": open")) << relay.Log().toStdString();
    CRecordingPort mirror;
    ASSERT_TRUE(mirror.OpenOn(url));
    QString problem;
    const CMqttAddress address = CMqttAddress::Parse(url, problem);
    CMqttClient subscriber(address);
    subscriber.SetSubscriptions({address.Topic("fields")});
    QByteArray published;
    QObject::connect(&subscriber, &CMqttClient::Received,
                     [&](const QByteArray&, const QByteArray& payload) { published = payload; });
    subscriber.Start();

    const auto mirrored = [&](const std::string& sent) {
        return WaitUntil(
            [&] {
                mirror.ProcessReceived();
                return StateOf(mirror) == FeedWhole(sent);
            },
            20000);
    };
    std::string sent = FilledRows('A');
    pty.Write(sent);
    EXPECT_TRUE(relay.Logged("at most 32768 bytes")) << relay.Log().toStdString();
    // Changes whose messages stay as large.
    for (const char letter : {'B', 'C', 'D'}) {
        sent += FilledRows(letter);
        pty.Write(FilledRows(letter));
        EXPECT_TRUE(mirrored(sent)) << letter << ": " << mirror.LastError().toStdString();
    }
    const std::string small = "\x1b+DONE";
    sent += small;
    pty.Write(small);
    EXPECT_TRUE(mirrored(sent)) << mirror.LastError().toStdString();
    EXPECT_TRUE(WaitUntil([&] { return published.contains("DONE"); }, 20000))
        << published.left(200).toStdString();
    EXPECT_EQ(broker.Connections(), 3) << "the publisher, the mirror and the subscriber, once each";
    relay.Logged(": open"); // takes in what it has logged since
    EXPECT_EQ(relay.Log().count("a message to hall/fields of"), 1) << relay.Log().toStdString();
}

TEST(Relay, FieldsMessageOverTheBrokersPacketLimitIsDroppedAndSaidOnce) {
    for (const PacketLimit& limit :
         {PacketLimit{32768, {}},
          PacketLimit{0, {QStringLiteral("--publish-max-packet"), QStringLiteral("32768")}}}) {
        SCOPED_TRACE(limit.m_broker);
        ExpectFieldsDroppedAndSaidOnce(limit);
    }
}

// The systemd unit passes systemd's own check, with the relay where the unit expects it.
TEST(Relay, SystemdUnitVerifies) {
    const QString analyze = QStandardPaths::findExecutable(QStringLiteral("systemd-analyze"));
    if (analyze.isEmpty())
        GTEST_SKIP() << "systemd-analyze is not installed (Debian package systemd)";
    QFile unit(QStringLiteral(TALLYVIEW_RELAY_UNIT));
    ASSERT_TRUE(unit.open(QIODevice::ReadOnly));
    QByteArray text = unit.readAll();
    ASSERT_TRUE(text.contains("ExecStart=/usr/bin/tallyview-relay "));
    text.replace("ExecStart=/usr/bin/tallyview-relay ", "ExecStart=" TALLYVIEW_RELAY " ");
    QTemporaryDir dir;
    QFile copy(dir.filePath(QStringLiteral("tallyview-relay.service")));
    ASSERT_TRUE(copy.open(QIODevice::WriteOnly) && copy.write(text) == text.size());
    copy.close();
    QProcess verify;
    verify.start(analyze, {QStringLiteral("verify"), QStringLiteral("--man=no"), copy.fileName()});
    ASSERT_TRUE(verify.waitForFinished(60000));
    const QByteArray said = verify.readAllStandardError() + verify.readAllStandardOutput();
    EXPECT_EQ(verify.exitCode(), 0) << said.toStdString();
    EXPECT_EQ(said, "");
}

} // namespace

std::string SampleGame() {
    std::ifstream in(TALLYVIEW_SAMPLE_CAPTURE, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// A league's cluster of three brokers: the relay publishes to nodes 1 and 2, mirrors read from
// nodes 3 and 2. Node 1 fails mid-game: the relay goes on through node 2, says so, and the
// mirrors (which the cluster may move too), the journal and the line end in one screen.
TEST(Relay, PublishesThroughTheNextNodeWhenItsBrokerFails) {
    CNatsCluster cluster(3);
    ASSERT_TRUE(cluster.Start()) << cluster.Logs().toStdString();
    const std::string game = SampleGame();
    ASSERT_FALSE(game.empty());
    PtyPair pty;
    QTemporaryDir dir;
    const QString journal = dir.filePath(QStringLiteral("journal"));
    CRelayProcess relay(kRelay,
                        {QStringLiteral("--device"), QString::fromStdString(pty.SlavePath()),
                         QStringLiteral("--journal"), journal, QStringLiteral("--publish"),
                         cluster.Url({0, 1}, QStringLiteral("league/hall"))});
    ASSERT_TRUE(relay.Logged(": connected")) << relay.Log().toStdString();
    CRecordingPort mirrors[2];
    ASSERT_TRUE(mirrors[0].OpenOn(cluster.Url({2, 1}, QStringLiteral("league/hall"))));
    ASSERT_TRUE(mirrors[1].OpenOn(cluster.Url({1, 2}, QStringLiteral("league/hall"))));
    const auto mirrored = [&](const std::string& bytes) {
        const ScreenState expected = FeedWhole(bytes);
        return WaitUntil(
            [&] {
                return std::all_of(std::begin(mirrors), std::end(mirrors), [&](auto& mirror) {
                    mirror.ProcessReceived();
                    return StateOf(mirror) == expected;
                });
            },
            20000);
    };
    const std::string first = game.substr(0, game.size() / 2);
    pty.Write(first);
    ASSERT_TRUE(mirrored(first)) << mirrors[0].LastError().toStdString();

    // The game goes on at a live line's pace while the cluster settles.
    cluster.Kill(0);
    constexpr std::size_t kPieces = 20;
    const std::size_t piece = (game.size() - first.size()) / kPieces + 1;
    for (std::size_t at = first.size(); at < game.size(); at += piece) {
        pty.Write(std::string_view(game).substr(at, piece));
        WaitUntil([] { return false; }, 250);
    }
    EXPECT_TRUE(mirrored(game)) << mirrors[0].LastError().toStdString() << " / "
                                << mirrors[1].LastError().toStdString() << "\n"
                                << relay.Log().toStdString();
    EXPECT_TRUE(relay.Logged("connected to " + cluster.Node(1).toUtf8()))
        << relay.Log().toStdString();

    EXPECT_EQ(relay.Stop(SIGTERM), 0);
    CTerminalScreen restored;
    CJournalFolder(journal).Restore(restored, 1, QDateTime::currentDateTime());
    EXPECT_EQ(StateOf(restored), FeedWhole(game));
    EXPECT_EQ(StateOf(restored), StateOf(mirrors[1]));
}
