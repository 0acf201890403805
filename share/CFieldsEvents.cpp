#include "CFieldsEvents.h"

#include "CFairShare.h"
#include "CFieldsFeed.h"
#include "CShareViewers.h"
#include "CSocketBacklog.h"

#include <QDateTime>
#include <QSslSocket>
#include <algorithm>
#include <optional>

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
    // A held-back event goes out when its time comes, not up to 5 % of the delay later.
    m_due.setSingleShot(true);
    m_due.setTimerType(Qt::PreciseTimer);
    connect(&m_due, &QTimer::timeout, this, &CFieldsEvents::SendDue);
}

CFieldsEvents::~CFieldsEvents() {
    Clear();
}

// The values as they now stand, with the time of the change as the object's last member.
void CFieldsEvents::Record() {
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    QByteArray json = m_feed.Json();
    json.insert(json.lastIndexOf('}'), ",\"time\":" + QByteArray::number(now));
    m_history.push_back({now, ++m_count, "data: " + json + "\n\n"});
    // What the longest delay may still need: the last change before the minute, and since.
    while (m_history.size() > 1 && m_history[1].m_at <= now - kMaxDelayMs)
        m_history.pop_front();
}

const CFieldsEvents::Past& CFieldsEvents::Due(const Client& client) const {
    const qint64 cut = QDateTime::currentMSecsSinceEpoch() - client.m_delayMs;
    const auto due = std::find_if(m_history.rbegin(), m_history.rend(),
                                  [cut](const Past& past) { return past.m_at <= cut; });
    return due == m_history.rend() ? m_history.front() : *due;
}

void CFieldsEvents::SendDue() {
    for (Client& client : m_clients) {
        const Past& due = Due(client);
        if (due.m_number > client.m_sent) {
            client.m_sent = due.m_number;
            Send(client, due.m_event);
        }
    }
    ScheduleDue();
}

void CFieldsEvents::ScheduleDue() {
    std::optional<qint64> next;
    for (const Client& client : m_clients) {
        const auto waiting =
            std::find_if(m_history.begin(), m_history.end(),
                         [&client](const Past& past) { return past.m_number > client.m_sent; });
        if (waiting != m_history.end())
            next = std::min(next.value_or(waiting->m_at + client.m_delayMs),
                            waiting->m_at + client.m_delayMs);
    }
    if (next)
        m_due.start(
            static_cast<int>(std::max<qint64>(0, *next - QDateTime::currentMSecsSinceEpoch())));
    else
        m_due.stop();
}

void CFieldsEvents::Add(QTcpSocket* socket, qint64 delayMs) {
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
        Record();
    }
    Client client{socket, CFairShare::ClientOf(socket->peerAddress()), true,
                  std::clamp<qint64>(delayMs, 0, kMaxDelayMs), 0};
    const Past& due = Due(client);
    client.m_sent = due.m_number;
    m_clients.push_back(client);
    socket->write(kHead + due.m_event);
    ScheduleDue();
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
        m_due.stop();
        m_history.clear();
        m_feed.LetGo(this);
    }
}

void CFieldsEvents::Clear() {
    if (m_clients.empty())
        return;
    m_heartbeat.stop();
    m_due.stop();
    m_history.clear();
    m_feed.LetGo(this);
    for (const Client& client : std::exchange(m_clients, {})) {
        client.m_socket->disconnect(this);
        client.m_socket->abort();
        client.m_socket->deleteLater();
    }
}

void CFieldsEvents::Announce() {
    Record();
    SendDue();
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
        const Past& due = Due(*it);
        it->m_current = true;
        it->m_sent = due.m_number;
        socket->write(due.m_event);
    }
}
