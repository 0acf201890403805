#include "CFieldsFeed.h"
#include "CHttpConnection.h"
#include "CNetworkCable.h"
#include "CScreenClock.h"
#include "CShareServer.h"
#include "CShareViewers.h"
#include "CTerminalScreen.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QWebSocket>
#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <random>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

const QString kCode = QStringLiteral("abcdefghjk");

QByteArray Get(const QByteArray& target, const QByteArray& extra = {}) {
    return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extra + "\r\n";
}

const QByteArray kUpgradeHeaders = "Upgrade: websocket\r\nConnection: Upgrade\r\n"
                                   "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                                   "Sec-WebSocket-Version: 13\r\n";

// Sends the request (buffered until the socket is up) and returns all that comes back before
// the connection closes; a connection still open after timeoutMs fails the test.
QByteArray Answer(QTcpSocket& socket, const QByteArray& request, int timeoutMs = 5000) {
    socket.write(request);
    QByteArray answer;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            answer += socket.readAll();
            return socket.state() == QAbstractSocket::UnconnectedState;
        },
        timeoutMs))
        << "still open: " << request.left(80).toStdString();
    return answer + socket.readAll();
}

// A self-signed certificate for 127.0.0.1 (dir/name.pem) and its key (dir/name.key).
bool MakeCertificate(const QString& dir, const QString& name) {
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                   "-nodes", "-days", "2", "-subj", "/CN=127.0.0.1", "-addext",
                   "subjectAltName=IP:127.0.0.1", "-keyout", dir + '/' + name + ".key", "-out",
                   dir + '/' + name + ".pem"});
    return openssl.waitForFinished(20000) && openssl.exitCode() == 0;
}

// A WebSocket viewer that keeps the last update it was sent.
struct Watcher : QWebSocket {
    QString m_last;
    Watcher() {
        connect(this, &QWebSocket::textMessageReceived,
                [this](const QString& text) { m_last = text; });
    }
    bool Sees(const QString& text, int timeoutMs = 5000) {
        return QTest::qWaitFor([&] { return m_last.contains(text); }, timeoutMs);
    }
};

// Waits until every socket has connected or been closed, so that the server has them all in
// its queue before anything that follows.
bool AllSettle(const std::vector<std::unique_ptr<QTcpSocket>>& sockets) {
    return QTest::qWaitFor(
        [&] {
            return std::none_of(sockets.begin(), sockets.end(), [](const auto& socket) {
                return socket->state() == QAbstractSocket::ConnectingState;
            });
        },
        30000);
}

CShareConfig AnyPort() {
    CShareConfig config;
    config.m_port = 0;
    config.m_code = kCode;
    return config;
}

// A stalled client that reads again gets the newest at last.
bool ReadsAgainUpTo(QTcpSocket& stalled, const QByteArray& newest) {
    stalled.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 1 << 20);
    stalled.setReadBufferSize(0);
    QByteArray seen;
    return QTest::qWaitFor(
        [&] {
            seen += stalled.readAll();
            return seen.contains(newest);
        },
        5000);
}

class ShareServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_server.Start(AnyPort())) << m_server.LastError().toStdString();
    }

    void Feed(std::string_view bytes) {
        for (const char b : bytes)
            m_screen.ReceiveByte(b);
    }

    // Sends raw bytes on a new connection and returns all that comes back before it closes.
    QByteArray Exchange(const QByteArray& request, int timeoutMs = 5000) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, m_server.ServingPort());
        EXPECT_TRUE(socket.waitForConnected(5000));
        return Answer(socket, request, timeoutMs);
    }

    // Serves over TLS with a new certificate in dir; the client side's configuration, which
    // trusts it.
    QSslConfiguration StartSecure(const QTemporaryDir& dir) {
        EXPECT_TRUE(MakeCertificate(dir.path(), "a"));
        CShareConfig config = AnyPort();
        config.m_certificate = dir.filePath("a.pem");
        config.m_key = dir.filePath("a.key");
        EXPECT_TRUE(m_server.Start(config)) << m_server.LastError().toStdString();
        return Trusting(config.m_certificate);
    }

    static QSslConfiguration Trusting(const QString& certificate) {
        QSslConfiguration trusting = QSslConfiguration::defaultConfiguration();
        trusting.setCaCertificates(QSslCertificate::fromPath(certificate));
        return trusting;
    }

    QByteArray FetchSecure(const QSslConfiguration& trusting, const QByteArray& target) {
        QSslSocket socket;
        socket.setSslConfiguration(trusting);
        socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), m_server.ServingPort());
        return Answer(socket, Get(target));
    }

    // A connection, over TLS when trusting holds the server's certificate.
    std::unique_ptr<QTcpSocket> Connected(const QSslConfiguration& trusting) {
        if (trusting.caCertificates().isEmpty()) {
            auto socket = std::make_unique<QTcpSocket>();
            socket->connectToHost(QHostAddress::LocalHost, m_server.ServingPort());
            return socket;
        }
        auto socket = std::make_unique<QSslSocket>();
        socket->setSslConfiguration(trusting);
        socket->connectToHostEncrypted(QStringLiteral("127.0.0.1"), m_server.ServingPort());
        return socket;
    }

    // A client that sends its request and then reads no more than a few kilobytes.
    std::unique_ptr<QTcpSocket> Stalled(const QSslConfiguration& trusting,
                                        const QByteArray& request) {
        std::unique_ptr<QTcpSocket> socket = Connected(trusting);
        socket->setReadBufferSize(4096);
        EXPECT_TRUE(socket->waitForConnected(5000));
        socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
        socket->write(request);
        return socket;
    }

    QUrl ViewerUrl(const QString& scheme = QStringLiteral("ws")) const {
        return QUrl(QStringLiteral("%1://127.0.0.1:%2/ws?code=%3")
                        .arg(scheme)
                        .arg(m_server.ServingPort())
                        .arg(kCode));
    }

    CTerminalScreen m_screen;
    CScreenClock m_clock{m_screen, [] { return true; }};
    CFieldsFeed m_fields{m_clock.Changes()};
    CShareServer m_server{m_clock.Changes(), m_fields};
};

TEST_F(ShareServerTest, AnswersByCodeMethodAndPath) {
    const QByteArray forbidden = "HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\nConnection: "
                                 "close\r\nCache-Control: no-store\r\n\r\n";
    const struct {
        QByteArray request;
        QByteArray answerStart;
    } cases[] = {
        {Get("/"), forbidden},
        {Get("/?code=wrong"), forbidden},
        {Get("/?code=ABCDEFGHJK"), forbidden},
        // Wrong only at the start, or only at the end, or one letter too many.
        {Get("/?code=zbcdefghjk"), forbidden},
        {Get("/?code=abcdefghjz"), forbidden},
        {Get("/?code=abcdefghjkk"), forbidden},
        {Get("/viewer.js"), forbidden},
        {Get("/ws?code=abcdefghj", kUpgradeHeaders), forbidden},
        {"POST /?code=x HTTP/1.1\r\nContent-Length: 0\r\n\r\n", forbidden},
        {Get("/?code=abcdefghjk"), "HTTP/1.1 200 OK\r\n"},
        {Get("/viewer.js?code=abcdefghjk"), "HTTP/1.1 200 OK\r\n"},
        {Get("/nothing?code=abcdefghjk"), "HTTP/1.1 404 Not Found\r\n"},
        {"HEAD /?code=abcdefghjk HTTP/1.1\r\n\r\n", "HTTP/1.1 405 Method Not Allowed\r\n"},
        {Get("/ws?code=abcdefghjk"), "HTTP/1.1 400 Bad Request\r\n"},
        {"GET / HTTP/1.1\nHost: x\n\n", ""}, // no CR: never complete, closed unanswered
        {"GET /?code=abcdefghjk HTTP/1.1\r\n folded: no\r\n\r\n", "HTTP/1.1 400 Bad Request\r\n"},
        {"GET /?code=abcdefghjk HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello",
         "HTTP/1.1 400 Bad Request\r\n"},
        {"GET /?code=abcdefghjk HTTP/2\r\n\r\n", "HTTP/1.1 400 Bad Request\r\n"},
        {Get("/?code=abcdefghjk", "X: " + QByteArray(9000, 'a') + "\r\n"),
         "HTTP/1.1 400 Bad Request\r\n"},
    };
    for (const auto& c : cases) {
        const QByteArray answer = Exchange(c.request, CHttpConnection::kTimeoutMs + 5000);
        if (c.answerStart.isEmpty())
            EXPECT_EQ(answer, "") << c.request.left(80).toStdString();
        else if (c.answerStart == forbidden)
            EXPECT_EQ(answer, forbidden) << c.request.left(80).toStdString();
        else
            EXPECT_TRUE(answer.startsWith(c.answerStart))
                << c.request.left(80).toStdString() << " -> " << answer.left(80).toStdString();
    }
}

// HTTPS and WSS with the operator's files; files that cannot serve are refused with the reason,
// never served as plain HTTP instead.
TEST_F(ShareServerTest, ServesOverTlsOnlyWithAUsableCertificateAndKey) {
    QTemporaryDir dir;
    ASSERT_TRUE(MakeCertificate(dir.path(), "a") && MakeCertificate(dir.path(), "b"));
    const QString certificate = dir.filePath("a.pem");
    const QString key = dir.filePath("a.key");
    const QString garbage = dir.filePath("garbage.pem");
    QFile file(garbage);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("not PEM\n") > 0);
    file.close();
    CShareConfig config = AnyPort();
    const struct {
        QString certificate;
        QString key;
        QString reason;
    } refused[] = {
        {certificate, {}, "both"},
        {{}, key, "both"},
        {dir.filePath("none.pem"), key, "none.pem"},
        {garbage, key, "garbage.pem"},
        {certificate, garbage, "garbage.pem"},
        {certificate, certificate, "a.pem"},
        {certificate, dir.filePath("b.key"), "b.key"},
    };
    for (const auto& c : refused) {
        config.m_certificate = c.certificate;
        config.m_key = c.key;
        EXPECT_FALSE(m_server.Start(config)) << c.reason.toStdString();
        EXPECT_FALSE(m_server.IsServing());
        EXPECT_TRUE(m_server.LastError().contains(c.reason)) << m_server.LastError().toStdString();
    }

    config.m_certificate = certificate;
    config.m_key = key;
    ASSERT_TRUE(m_server.Start(config)) << m_server.LastError().toStdString();
    EXPECT_TRUE(config.Url(m_server.ServingPort()).startsWith("https://"));
    const QSslConfiguration trusting = Trusting(certificate);
    const auto fetch = [&](const QByteArray& target) { return FetchSecure(trusting, target); };
    // Connections that never start TLS, more than Qt lets wait by default, shut no one out.
    std::vector<std::unique_ptr<QTcpSocket>> idle(40);
    for (auto& socket : idle) {
        socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(QHostAddress::LocalHost, m_server.ServingPort());
    }
    EXPECT_TRUE(fetch("/?code=" + kCode.toLatin1()).startsWith("HTTP/1.1 200 OK\r\n"));
    EXPECT_TRUE(std::all_of(idle.begin(), idle.end(), [](const auto& socket) {
        return socket->state() == QAbstractSocket::ConnectedState;
    })) << "served only once the idle connections were dropped";
    EXPECT_TRUE(fetch("/?code=wrong").startsWith("HTTP/1.1 403 Forbidden\r\n"));
    EXPECT_FALSE(Exchange(Get("/?code=" + kCode.toLatin1())).contains("HTTP/1.1"));

    Feed("\x1b=  over TLS");
    Watcher viewer;
    viewer.setSslConfiguration(trusting);
    viewer.open(ViewerUrl(QStringLiteral("wss")));
    EXPECT_TRUE(viewer.Sees("over TLS")) << viewer.errorString().toStdString();
}

// The key is checked without a connection: where the loopback carries none (here it is down), a
// key of another certificate is still refused, at once.
TEST_F(ShareServerTest, KeyOfAnotherCertificateIsRefusedWithoutTheLoopback) {
    CNetworkCable cable;
    if (!cable.Problem().isEmpty())
        GTEST_SKIP() << "no network cable here: " << cable.Problem().toStdString();
    QTemporaryDir dir;
    ASSERT_TRUE(MakeCertificate(dir.path(), "a") && MakeCertificate(dir.path(), "b"));
    CShareConfig config = AnyPort();
    config.m_certificate = dir.filePath("a.pem");
    config.m_key = dir.filePath("b.key");
    bool started = true;
    ASSERT_TRUE(cable.RunFar([&] { started = m_server.Start(config); }));
    EXPECT_FALSE(started);
    EXPECT_TRUE(m_server.LastError().contains(QStringLiteral("does not go with")))
        << m_server.LastError().toStdString();
}

// Connections that never begin TLS, as many at once as there are requests in the making, then
// closed: the server still accepts, pages are served and viewers join.
TEST_F(ShareServerTest, TlsServerAcceptsAgainAfterConnectionsThatNeverBeginTls) {
    QTemporaryDir dir;
    const QSslConfiguration trusting = StartSecure(dir);
    {
        std::vector<std::unique_ptr<QTcpSocket>> idle(CShareServer::kMaxRequests);
        for (auto& socket : idle) {
            socket = std::make_unique<QTcpSocket>();
            socket->connectToHost(QHostAddress::LocalHost, m_server.ServingPort());
        }
        ASSERT_TRUE(AllSettle(idle));
    }
    EXPECT_TRUE(FetchSecure(trusting, "/?code=" + kCode.toLatin1()).startsWith("HTTP/1.1 200 OK"));
    Feed("\x1b=  after the idle ones");
    Watcher viewer;
    viewer.setSslConfiguration(trusting);
    viewer.open(ViewerUrl(QStringLiteral("wss")));
    EXPECT_TRUE(viewer.Sees("after the idle ones")) << viewer.errorString().toStdString();
}

// Half-sent requests, more than the server takes at once, from one client or shared out among
// ten, and then as many again (the client renewing them): each time a new viewer still gets in
// and a page is served, the viewer already watching keeps getting its updates, and a slow
// client that began its request before them is answered when it ends it.
TEST_F(ShareServerTest, HalfSentRequestsShutNoOneOut) {
    Watcher watching;
    watching.open(ViewerUrl());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !watching.m_last.isEmpty(); }, 5000));
    const QByteArray page = Get("/?code=" + kCode.toLatin1());
    const QByteArray halfSent = page.chopped(2);
    const struct {
        int clients;
        int each;
    } floods[] = {{1, CShareServer::kMaxRequests + 2}, {10, CShareServer::kMaxRequests / 10 + 1}};
    int mark = 0;
    for (const auto& flood : floods) {
        std::vector<std::unique_ptr<QTcpSocket>> sockets;
        for (int round = 0; round < 2; ++round) {
            SCOPED_TRACE(std::to_string(flood.clients) + " clients, round " +
                         std::to_string(round));
            QTcpSocket slow;
            slow.connectToHost(QHostAddress::LocalHost, m_server.ServingPort());
            ASSERT_TRUE(slow.waitForConnected(5000));
            slow.write(halfSent);
            for (int client = 0; client < flood.clients; ++client)
                for (int i = 0; i < flood.each; ++i) {
                    auto& socket = sockets.emplace_back(std::make_unique<QTcpSocket>());
                    // 127.0.0.2 and on: other clients than the viewers, on this computer still
                    socket->bind(QHostAddress(0x7F000002 + client));
                    socket->connectToHost(QHostAddress::LocalHost, m_server.ServingPort());
                    socket->write(halfSent);
                }
            ASSERT_TRUE(AllSettle(sockets));
            const std::string text = "mark " + std::to_string(++mark);
            Feed("\x1b=  " + text);
            const QString seen = QString::fromStdString(text);
            Watcher joining;
            joining.open(ViewerUrl());
            EXPECT_TRUE(joining.Sees(seen));
            EXPECT_TRUE(watching.Sees(seen));
            EXPECT_TRUE(Exchange(page).startsWith("HTTP/1.1 200 OK"));
            EXPECT_TRUE(Answer(slow, "\r\n").startsWith("HTTP/1.1 200 OK"));
        }
    }
}

// A viewer that stops reading holds up no one: the other one gets every update, what waits for
// the stalled one stays bounded, and once it reads again it is sent the newest screen. Over TLS
// too, where what waits is encrypted.
TEST_F(ShareServerTest, StalledViewerHoldsUpNoOneAndCatchesUpWithTheNewest) {
    QTemporaryDir dir;
    for (const bool secure : {false, true}) {
        SCOPED_TRACE(secure ? "TLS" : "plain");
        const QSslConfiguration trusting = secure ? StartSecure(dir) : QSslConfiguration();
        const std::unique_ptr<QTcpSocket> stalled =
            Stalled(trusting, Get("/ws?code=" + kCode.toLatin1(), kUpgradeHeaders));
        Watcher viewer;
        viewer.setSslConfiguration(trusting);
        viewer.open(ViewerUrl(secure ? QStringLiteral("wss") : QStringLiteral("ws")));
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return m_server.ViewerCount() == 2 && !viewer.m_last.isEmpty(); }, 5000));

        constexpr int kFrames = 30;
        qint64 most = 0;
        for (int frame = 0; frame < kFrames; ++frame) {
            const std::string mark = "frame " + std::to_string(frame) + ' ';
            for (int row = 0; row < CTerminalScreen::kRows; ++row)
                Feed("\x1b=" + std::string{static_cast<char>(32 + row), ' '} + mark +
                     std::string(110, static_cast<char>('A' + (frame + row) % 26)));
            ASSERT_TRUE(viewer.Sees(QString::fromStdString(mark), 2000)) << frame;
            most = std::max(most, m_server.UnsentBytes());
        }
        EXPECT_GT(most, CShareViewers::kSkipBytes); // it did stall
        EXPECT_LT(most, 2 * CShareViewers::kSkipBytes);
        EXPECT_TRUE(ReadsAgainUpTo(*stalled, "frame " + QByteArray::number(kFrames - 1) + ' '));
    }
}

// The same for the fields' event stream: a client that stops reading holds up no one, what
// waits for it stays bounded, and once it reads again it gets the newest values.
TEST_F(ShareServerTest, StalledFieldsStreamHoldsUpNoOneAndCatchesUpWithTheNewest) {
    CFieldDefinitions definitions;
    definitions.m_fields.push_back({QStringLiteral("page"), 1, 1, 132, 42, std::nullopt});
    m_fields.SetDefinitions(definitions);
    const QByteArray request = Get("/fields/events?code=" + kCode.toLatin1());
    QTemporaryDir dir;
    for (const bool secure : {false, true}) {
        SCOPED_TRACE(secure ? "TLS" : "plain");
        const QSslConfiguration trusting = secure ? StartSecure(dir) : QSslConfiguration();
        const std::unique_ptr<QTcpSocket> stalled = Stalled(trusting, request);
        const std::unique_ptr<QTcpSocket> reader = Connected(trusting);
        reader->write(request);
        QByteArray read;
        const auto reads = [&](const QByteArray& text) {
            return QTest::qWaitFor(
                [&] {
                    read += reader->readAll();
                    return read.contains(text);
                },
                5000);
        };

        constexpr int kFrames = 40;
        qint64 most = 0;
        for (int frame = 0; frame < kFrames; ++frame) {
            const std::string mark = "frame " + std::to_string(frame) + ' ';
            Feed("\x1b`;\x1b=  " + mark +
                 std::string(42 * 132 - 1 - mark.size(), 'A' + frame % 26));
            ASSERT_TRUE(reads(QByteArray::fromStdString(mark))) << frame;
            read.clear();
            most = std::max(most, m_server.UnsentBytes());
        }
        EXPECT_GT(most, CFieldsEvents::kSkipBytes); // it did stall
        EXPECT_LT(most, 2 * CFieldsEvents::kSkipBytes);
        EXPECT_TRUE(ReadsAgainUpTo(*stalled, "frame " + QByteArray::number(kFrames - 1) + ' '));
    }
}

// A viewer beyond the bound is refused with 503; those watching keep watching, and when one
// leaves another gets in.
TEST_F(ShareServerTest, ViewerBeyondTheBoundIsRefused) {
    CShareConfig config = AnyPort();
    config.m_maxViewers = 3;
    ASSERT_TRUE(m_server.Start(config));
    Watcher viewers[4];
    for (int i = 0; i < 3; ++i)
        viewers[i].open(ViewerUrl());
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_server.ViewerCount() == 3; }, 5000));
    EXPECT_TRUE(Exchange(Get("/ws?code=" + kCode.toLatin1(), kUpgradeHeaders))
                    .startsWith("HTTP/1.1 503 Service Unavailable\r\n"));
    Feed("\x1b=  still watching");
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(viewers[i].Sees("still watching")) << i;
    EXPECT_EQ(m_server.ViewerCount(), 3);

    viewers[0].close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_server.ViewerCount() == 2; }, 5000));
    viewers[3].open(ViewerUrl());
    EXPECT_TRUE(viewers[3].Sees("still watching"));
}

// Fields streams from one address beyond the bound take the places of that address's own
// oldest: each is served, and a stream from another address still gets in.
TEST_F(ShareServerTest, StreamsFromOneAddressLeaveRoomForOthers) {
    CShareConfig config = AnyPort();
    config.m_maxViewers = 4;
    ASSERT_TRUE(m_server.Start(config));
    const auto stream = [&](quint32 from) {
        auto socket = std::make_unique<QTcpSocket>();
        socket->bind(QHostAddress(from));
        socket->connectToHost(QHostAddress::LocalHost, m_server.ServingPort());
        socket->write(Get("/fields/events?code=" + kCode.toLatin1()));
        QByteArray head;
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                head += socket->readAll();
                return head.contains("data: ") ||
                       socket->state() == QAbstractSocket::UnconnectedState;
            },
            5000));
        EXPECT_TRUE(head.startsWith("HTTP/1.1 200 OK\r\n")) << head.left(40).toStdString();
        return socket;
    };
    std::vector<std::unique_ptr<QTcpSocket>> flood;
    for (int i = 0; i < 2 * config.m_maxViewers; ++i)
        flood.push_back(stream(0x7F000002));
    const std::unique_ptr<QTcpSocket> other = stream(0x7F000003);
    EXPECT_EQ(m_server.FieldsStreamCount(), config.m_maxViewers);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return flood.front()->state() == QAbstractSocket::UnconnectedState; }, 5000));
    EXPECT_EQ(flood.back()->state(), QAbstractSocket::ConnectedState);
}

// Out of descriptors for a moment, the server takes connections again once there are some.
TEST_F(ShareServerTest, AcceptsAgainAfterRunningOutOfDescriptors) {
    QTcpSocket waiting;
    waiting.connectToHost(QHostAddress::LocalHost, m_server.ServingPort());
    ASSERT_TRUE(waiting.waitForConnected(5000)); // in the listener's queue, not yet accepted
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    // The limit just above the highest descriptor open, every one below it taken: the event
    // loop still polls what it has, and nothing new can open.
    int highest = 0;
    for (const QString& name : QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files))
        highest = std::max(highest, name.toInt());
    rlimit low = saved;
    low.rlim_cur = highest + 1;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    std::vector<int> holes;
    for (int fd = dup(0); fd >= 0; fd = dup(0))
        holes.push_back(fd);
    QTest::qWait(200); // the listener tries to accept it, and cannot
    for (const int fd : holes)
        close(fd);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
    EXPECT_TRUE(Answer(waiting, Get("/?code=" + kCode.toLatin1())).startsWith("HTTP/1.1 200 OK"));
}

// Random and mutated requests and WebSocket frames, many at once: the server stays up and a
// viewer that behaves keeps getting every change.
TEST_F(ShareServerTest, FuzzedRequestsAndFramesAffectNoOneElse) {
    QWebSocket viewer;
    QStringList received;
    QObject::connect(&viewer, &QWebSocket::textMessageReceived,
                     [&](const QString& text) { received << text; });
    viewer.open(ViewerUrl());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !received.isEmpty(); }, 5000));

    std::mt19937 random(20261208);
    const auto below = [&](int n) {
        return n > 0 ? static_cast<int>(random() % static_cast<unsigned>(n)) : 0;
    };
    const QByteArray code = kCode.toLatin1();
    const std::vector<QByteArray> seeds = {
        Get("/?code=" + code), Get("/ws?code=" + code, kUpgradeHeaders), Get("/?code=zzz"),
        Get("/viewer.css?code=" + code, "Accept: */*\r\nCookie: a=b\r\n")};
    const auto mutated = [&] {
        QByteArray bytes = seeds[below(static_cast<int>(seeds.size()))];
        for (int n = below(6); n > 0; --n) {
            const int at = below(static_cast<int>(bytes.size()));
            switch (below(4)) {
            case 0:
                bytes[at] = static_cast<char>(random());
                break;
            case 1:
                bytes.insert(at, QByteArray(below(64), static_cast<char>(random())));
                break;
            case 2:
                bytes.truncate(at);
                break;
            default:
                bytes.insert(at, bytes.mid(below(at + 1), below(200)));
                break;
            }
        }
        return bytes;
    };
    // After a proper upgrade: frames with any opcode, flags, mask and length, or plain noise.
    const auto frames = [&] {
        QByteArray bytes;
        for (int n = below(4) + 1; n > 0; --n) {
            QByteArray frame;
            frame += static_cast<char>(random());
            const int length = below(3) == 0 ? 127 : below(126);
            frame += static_cast<char>((below(2) ? 0x80 : 0) | length);
            if (length == 127)
                frame += QByteArray::fromHex("7fffffffffffffff");
            for (int i = below(300); i > 0; --i)
                frame += static_cast<char>(random());
            bytes += frame;
        }
        return bytes;
    };

    QElapsedTimer elapsed;
    elapsed.start();
    for (int round = 0; round < 60 && elapsed.elapsed() < 20000; ++round) {
        std::vector<std::unique_ptr<QTcpSocket>> sockets;
        for (int i = 0; i < 8; ++i) {
            auto socket = std::make_unique<QTcpSocket>();
            socket->connectToHost(QHostAddress::LocalHost, m_server.ServingPort());
            const bool framesAfterUpgrade = below(3) == 0;
            socket->write(framesAfterUpgrade ? seeds[1] + frames() : mutated());
            sockets.push_back(std::move(socket));
        }
        Feed("round " + std::to_string(round) + "\r\n");
        QTest::qWait(30);
    }
    Feed("\x1b"
         "Ffuzzing over\r");
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return !received.isEmpty() && received.constLast().contains("fuzzing over"); },
        5000));
    EXPECT_EQ(viewer.state(), QAbstractSocket::ConnectedState);
    EXPECT_TRUE(m_server.IsServing());
    EXPECT_TRUE(Exchange(seeds[0]).startsWith("HTTP/1.1 200 OK"));
}

} // namespace
