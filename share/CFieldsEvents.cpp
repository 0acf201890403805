#include "CFieldsEvents.h"

#include "CFairShare.h"
#include "CFieldsFeed.h"
#include "CShareViewers.h"
#include "CSocketBacklog.h"

#include <QSslSocket>
#include <algorithm>

namespace {

// Graphics templates are pages of their own (a file, another server): the stream is for them
// too, the access code being what guards it.
const QByteArray kHead = "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream; charset=utf-8\r\n"
                         "Cache-Control: no-store\r\nConnection: close\r\n"
                         "Access-Control-Allow-Origin: *\r\nX-Content-Type-Options: nosniff\r\n"
                         "\r\nretry: 2000\n\n";

} // namespace

CFieldsEvents::CFieldsEvents(CFieldsFeed& feed) : m_feed(feed) {
    connect(&m_feed, &CFieldsFeed::Changed, this, &CFieldsEvents::Announce);
    m_heartbeat.setInterval(kHeartbeatMs);
    connect(&m_heartbeat, &QTimer::timeout, this, &CFieldsEvents::Heartbeat);
}

CFieldsEvents::~CFieldsEvents() {
    Clear();
}

QByteArray CFieldsEvents::Event() {
    return "data: " + m_feed.Json() + "\n\n";
}

void CFieldsEvents::Add(QTcpSocket* socket) {
    socket->setParent(this);
    socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption,
                            CShareViewers::kSocketBufferBytes);
    socket->setReadBufferSize(1024);
    // Queued: a write may end a connection while the clients are being walked.
    connect(
        socket, &QTcpSocket::disconnected, this, [this, socket] { Remove(socket); },
        Qt::QueuedConnection);
    connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] { CatchUp(socket); });
    if (auto* tls = qobject_cast<QSslSocket*>(socket))
        connect(tls, &QSslSocket::encryptedBytesWritten, this, [this, socket] { CatchUp(socket); });
    if (m_clients.empty()) {
        m_feed.Take(this);
        m_heartbeat.start();
    }
    m_clients.push_back({socket, CFairShare::ClientOf(socket->peerAddress()), true});
    socket->write(kHead + Event());
}

qint64 CFieldsEvents::UnsentBytes() const {
    qint64 bytes = 0;
    for (const Client& client : m_clients)
        bytes += CSocketBacklog::Of(client.m_socket);
    return bytes;
}

bool CFieldsEvents::MakeRoom() {
    if (!IsFull())
        return true;
    const auto oldest = CFairShare::GivingWay(
        m_clients.begin(), m_clients.end(), [](const Client& c) { return c.m_client; },
        [](const Client&) { return true; });
    if (oldest == m_clients.end())
        return false;
    QTcpSocket* socket = oldest->m_socket;
    socket->disconnect(this);
    socket->abort();
    Remove(socket);
    return true;
}

void CFieldsEvents::Remove(QTcpSocket* socket) {
    const auto it = std::find_if(m_clients.begin(), m_clients.end(),
                                 [socket](const Client& c) { return c.m_socket == socket; });
    if (it == m_clients.end())
        return;
    m_clients.erase(it);
    socket->deleteLater();
    if (m_clients.empty()) {
        m_heartbeat.stop();
        m_feed.LetGo(this);
    }
}

void CFieldsEvents::Clear() {
    if (m_clients.empty())
        return;
    m_heartbeat.stop();
    m_feed.LetGo(this);
    for (const Client& client : std::exchange(m_clients, {})) {
        client.m_socket->disconnect(this);
        client.m_socket->abort();
        client.m_socket->deleteLater();
    }
}

void CFieldsEvents::Announce() {
    const QByteArray event = Event();
    for (Client& client : m_clients)
        Send(client, event);
    m_heartbeat.start();
}

void CFieldsEvents::Heartbeat() {
    for (Client& client : m_clients)
        if (client.m_current)
            Send(client, ":\n\n");
}

void CFieldsEvents::Send(Client& client, const QByteArray& data) {
    client.m_current = CSocketBacklog::Of(client.m_socket) <= kSkipBytes;
    if (client.m_current)
        client.m_socket->write(data);
}

void CFieldsEvents::CatchUp(QTcpSocket* socket) {
    const auto it = std::find_if(m_clients.begin(), m_clients.end(),
                                 [socket](const Client& c) { return c.m_socket == socket; });
    if (it != m_clients.end() && !it->m_current && CSocketBacklog::Of(socket) < kResumeBytes) {
        it->m_current = true;
        socket->write(Event());
    }
}
