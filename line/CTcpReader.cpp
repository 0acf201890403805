#include "CTcpReader.h"

#include <QHostAddress>

#ifdef Q_OS_WIN
#include <mstcpip.h>
#include <winsock2.h>
#else
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

namespace {

constexpr int kKeepIdleS = 5;
constexpr int kKeepIntervalS = 2;
constexpr int kKeepCount = 4; // 5 s + 4 * 2 s of silence, then the connection is dead
// Also bounds how long sent bytes (RFC 2217 answers) may stay unacknowledged. With it set, the
// kernel ends a silent connection at the first probe time past it, so it lies a little short
// of the keepalive's own end (13 s); set to that end, a late timer would cost one more interval.
constexpr unsigned kUserTimeoutMs = (kKeepIdleS + kKeepCount * kKeepIntervalS - 1) * 1000;
static_assert(kUserTimeoutMs + kKeepIntervalS * 1000 <= CTcpReader::kDeadPeerMs);

// Keepalive probes after a short silence, so a far end that vanished is noticed in seconds
// rather than the system's two hours.
void KeepAlive(QTcpSocket& socket) {
    socket.setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    const qintptr fd = socket.socketDescriptor();
#ifdef Q_OS_WIN
    tcp_keepalive values{1, kKeepIdleS * 1000, kKeepIntervalS * 1000};
    DWORD returned = 0;
    WSAIoctl(SOCKET(fd), SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned, nullptr,
             nullptr);
#else
    const int idle = kKeepIdleS;
    const int interval = kKeepIntervalS;
    const int count = kKeepCount;
    const unsigned int userTimeout = kUserTimeoutMs;
    setsockopt(int(fd), IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    setsockopt(int(fd), IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    setsockopt(int(fd), IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
    setsockopt(int(fd), IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeout, sizeof userTimeout);
#endif
}

QString SchemeWord(CLineAddress::Kind kind) {
    switch (kind) {
    case CLineAddress::Kind::Rfc2217:
        return QStringLiteral("rfc2217");
    case CLineAddress::Kind::Listen:
        return QStringLiteral("listen");
    default:
        return QStringLiteral("tcp");
    }
}

QString HostPort(const QString& host, quint16 port) {
    return (host.contains(QLatin1Char(':')) ? QStringLiteral("[%1]:%2") : QStringLiteral("%1:%2"))
        .arg(host)
        .arg(port);
}

// An IPv4 peer of a socket that also takes IPv6 in its plain form, not ::ffff:a.b.c.d.
QString AddressText(const QHostAddress& address) {
    bool v4 = false;
    const quint32 ipv4 = address.toIPv4Address(&v4);
    return v4 ? QHostAddress(ipv4).toString() : address.toString();
}

} // namespace

CTcpReader::CTcpReader(const CLineAddress& address, Sink sink)
    : CLineReader(std::move(sink)), m_address(address), m_answerTimer(this) {
    m_answerTimer.setSingleShot(true);
    m_answerTimer.setInterval(kAnswerMs);
    connect(&m_answerTimer, &QTimer::timeout, this, &CTcpReader::OnAnswerTimeout);
}

QString CTcpReader::ErrorWords(const QAbstractSocket& socket) {
    switch (socket.error()) {
    case QAbstractSocket::ConnectionRefusedError:
        return QStringLiteral("connection refused");
    case QAbstractSocket::HostNotFoundError:
        return QStringLiteral("host not found");
    case QAbstractSocket::SocketTimeoutError:
        return QStringLiteral("timed out");
    case QAbstractSocket::RemoteHostClosedError:
        return QStringLiteral("closed by the server");
    default:
        return socket.errorString();
    }
}

// The outcome comes from the socket's signals, or from the open's time running out (a silent
// host never refuses).
CLineReader::State CTcpReader::OpenNow() {
    Connect();
    return State::Opening;
}

void CTcpReader::Retry() {
    // An attempt still under way gets kConnectMs (a silent host never refuses).
    if (m_socket && m_socket->state() != QAbstractSocket::UnconnectedState &&
        !m_attempt.hasExpired(kConnectMs))
        return;
    if (m_socket && m_socket->state() != QAbstractSocket::UnconnectedState)
        SetError(QStringLiteral("%1: timed out").arg(Settings().m_device));
    Connect();
}

QString CTcpReader::LinkWords(const QTcpSocket* connected) const {
    const QString host = m_address.m_host.isEmpty() ? QStringLiteral("*") : m_address.m_host;
    const QString words =
        SchemeWord(m_address.m_kind) + QLatin1Char(' ') + HostPort(host, m_address.m_port);
    if (!connected)
        return words;
    const QString peer = AddressText(connected->peerAddress());
    if (m_address.m_kind == CLineAddress::Kind::Listen)
        return words + QStringLiteral(", device server ") + HostPort(peer, connected->peerPort());
    return peer == m_address.m_host ? words : QStringLiteral("%1 (%2)").arg(words, peer);
}

void CTcpReader::Connect() {
    SetLink(LinkWords(nullptr));
    auto socket = std::make_unique<QTcpSocket>(this);
    connect(socket.get(), &QTcpSocket::connected, this, &CTcpReader::OnConnected);
    Use(std::move(socket));
    m_attempt.start();
    m_socket->connectToHost(m_address.m_host, m_address.m_port, QIODevice::ReadWrite);
}

void CTcpReader::Use(std::unique_ptr<QTcpSocket> socket) {
    CloseSocket();
    m_socket = std::move(socket);
    m_socket->setParent(this);
    connect(m_socket.get(), &QTcpSocket::readyRead, this, &CTcpReader::OnReadyRead);
    connect(m_socket.get(), &QTcpSocket::errorOccurred, this, &CTcpReader::OnError);
    if (m_socket->state() == QAbstractSocket::ConnectedState)
        OnConnected();
}

void CTcpReader::OnConnected() {
    KeepAlive(*m_socket);
    SetLink(LinkWords(m_socket.get()));
    if (m_address.m_kind == CLineAddress::Kind::Rfc2217) {
        m_telnet.emplace(Settings());
        m_socket->write(m_telnet->Greeting());
        m_answerTimer.start();
    }
    if (CurrentState() == State::Opening)
        OpenDone(State::Open);
    else if (CurrentState() == State::Reconnecting)
        LineBack();
}

void CTcpReader::OnReadyRead() {
    const QByteArray bytes = m_socket->readAll();
    if (!m_telnet) {
        Deliver(bytes);
        return;
    }
    QByteArray reply;
    const QByteArray data = m_telnet->Receive(bytes, reply);
    if (!reply.isEmpty())
        m_socket->write(reply);
    SetNotice(m_telnet->Notice());
    Deliver(data);
}

void CTcpReader::OnError() {
    const QString reason = QStringLiteral("%1: %2").arg(Settings().m_device, ErrorWords(*m_socket));
    if (CurrentState() == State::Open) {
        Dropped(reason);
        return;
    }
    SetError(reason);
    // While reconnecting, the retry timer goes on.
    if (CurrentState() == State::Opening)
        OpenDone(State::Closed);
}

void CTcpReader::OnAnswerTimeout() {
    if (!m_telnet)
        return;
    m_telnet->StopWaiting();
    SetNotice(m_telnet->Notice());
}

void CTcpReader::Dropped(const QString& reason) {
    LineLost(reason);
}

void CTcpReader::CloseNow() {
    CloseSocket();
}

void CTcpReader::CloseSocket() {
    m_answerTimer.stop();
    m_telnet.reset();
    if (!m_socket)
        return;
    m_socket->disconnect(this);
    m_socket->abort();
    // It may be inside one of its own signals.
    m_socket.release()->deleteLater();
}
