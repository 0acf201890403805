#include "CShareServer.h"

#include "CDescriptorLimit.h"
#include "CFairShare.h"
#include "CFieldsFeed.h"
#include "CFieldsFormats.h"
#include "CHttpConnection.h"
#include "CSharePage.h"
#include "CTlsListener.h"

#include <QDebug>
#include <QFile>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QTimer>
#include <QWebSocket>
#include <algorithm>

#ifndef Q_OS_WIN
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

const QByteArray kUpgradePath = "/ws";
const QByteArray kFieldsEventsPath = "/fields/events";
// The fields are also for graphics pages served from elsewhere (a file, another server).
const QByteArray kFieldsHeaders =
    "Access-Control-Allow-Origin: *\r\nX-Content-Type-Options: nosniff\r\n";

std::optional<QSslKey> ReadKey(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray pem = file.readAll();
    for (const QSsl::KeyAlgorithm algorithm : {QSsl::Rsa, QSsl::Ec})
        if (QSslKey key(pem, algorithm); !key.isNull())
            return key;
    return std::nullopt;
}

// False when the key cannot serve with the certificate (it belongs to another one). TLS sets
// up, and checks, its context as soon as a server-side socket starts, before any byte goes out,
// so the operator hears at once, not when the first viewer fails. The socket is one end of a
// pair made here: the check never waits on a connection.
bool KeyFits(const QSslConfiguration& tls) {
#ifdef Q_OS_WIN
    // No socket pairs: a loopback connection of our own.
    CTlsListener listener(tls);
    QTcpSocket client;
    if (!listener.listen(QHostAddress::LocalHost))
        return true;
    client.connectToHost(QHostAddress::LocalHost, listener.serverPort());
    if (!client.waitForConnected(2000) || !listener.waitForNewConnection(2000))
        return true;
    const auto* probe = qobject_cast<QSslSocket*>(listener.nextPendingConnection());
    return !probe || probe->error() == QAbstractSocket::UnknownSocketError;
#else
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
        return true;
    const int peer = pair[1]; // never written to: closed unread
    QSslSocket probe;
    probe.setSslConfiguration(tls);
    if (!probe.setSocketDescriptor(pair[0])) {
        ::close(pair[0]);
        ::close(peer);
        return true;
    }
    probe.startServerEncryption();
    const bool fits = probe.error() == QAbstractSocket::UnknownSocketError;
    probe.abort();
    ::close(peer);
    return fits;
#endif
}

// A listener for TLS with the operator's certificate and key, or why there is none.
std::unique_ptr<QTcpServer> SecureListener(const CShareConfig& config, QString& error) {
    if (config.m_certificate.isEmpty() || config.m_key.isEmpty()) {
        error = QStringLiteral("HTTPS needs both a certificate and a key");
        return nullptr;
    }
    const QList<QSslCertificate> chain = QSslCertificate::fromPath(config.m_certificate);
    const std::optional<QSslKey> key = ReadKey(config.m_key);
    if (chain.isEmpty() || !key) {
        error = chain.isEmpty()
                    ? QStringLiteral("the certificate %1 cannot be read").arg(config.m_certificate)
                    : QStringLiteral("the key %1 cannot be read").arg(config.m_key);
        return nullptr;
    }
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificateChain(chain);
    tls.setPrivateKey(*key);
    tls.setPeerVerifyMode(QSslSocket::VerifyNone);
    if (!KeyFits(tls)) {
        error = QStringLiteral("the key %1 does not go with the certificate %2")
                    .arg(config.m_key, config.m_certificate);
        return nullptr;
    }
    return std::make_unique<CTlsListener>(tls);
}

// Constant time, so the code cannot be guessed a letter at a time from answer times.
bool SameCode(const QString& given, const QString& code) {
    if (given.size() != code.size())
        return false;
    char16_t difference = 0;
    for (qsizetype i = 0; i < code.size(); ++i)
        difference |= given[i].unicode() ^ code[i].unicode();
    return difference == 0;
}

// delay=SECONDS: how long a stream holds its events back (anything not a number: none).
qint64 DelayMs(const CHttpRequest& request) {
    bool number = false;
    const double seconds = request.QueryItem(QStringLiteral("delay")).toDouble(&number);
    return number && seconds > 0
               ? static_cast<qint64>(std::min(seconds * 1000, double(CFieldsEvents::kMaxDelayMs)))
               : 0;
}

} // namespace

CShareServer::CShareServer(CScreenChanges& changes, CFieldsFeed& fields, QObject* parent)
    : QObject(parent), m_upgrader(QStringLiteral("Tallyview"), QWebSocketServer::NonSecureMode),
      m_viewers(changes), m_fields(fields), m_fieldsEvents(fields) {
    connect(&m_upgrader, &QWebSocketServer::newConnection, this, &CShareServer::OnUpgraded);
    connect(&m_viewers, &CShareViewers::CountChanged, this, &CShareServer::ViewersChanged);
}

// The viewers' and requests' connections go with their owners, without signals.
CShareServer::~CShareServer() = default;

bool CShareServer::Start(const CShareConfig& config) {
    Stop();
    std::unique_ptr<QTcpServer> listener =
        config.Secure() ? SecureListener(config, m_lastError) : std::make_unique<QTcpServer>();
    if (!listener)
        return false;
    if (!listener->listen(config.Address(), config.m_port)) {
        m_lastError = listener->errorString();
        return false;
    }
    connect(listener.get(), &QTcpServer::pendingConnectionAvailable, this,
            &CShareServer::OnNewConnection);
    // Out of descriptors, the listener stops accepting for good; some will be free again soon.
    QTcpServer* accepting = listener.get();
    connect(accepting, &QTcpServer::acceptError, accepting, [accepting] {
        QTimer::singleShot(kAcceptPauseMs, accepting, &QTcpServer::resumeAccepting);
    });
    m_listener = std::move(listener);
    m_code = config.m_code;
    const int limit = CDescriptorLimit::Current();
    const Bounds bounds = Fit(config.m_maxViewers, limit);
    if (bounds != Bounds{config.m_maxViewers, kMaxRequests})
        qInfo().noquote() << QStringLiteral("With at most %1 open files, the web view takes at "
                                            "most %2 viewers, %2 fields streams and %3 requests.")
                                 .arg(limit)
                                 .arg(bounds.m_viewers)
                                 .arg(bounds.m_requests);
    m_viewers.SetLimit(bounds.m_viewers);
    m_fieldsEvents.SetLimit(bounds.m_viewers);
    m_maxRequests = bounds.m_requests;
    m_lastError.clear();
    return true;
}

CShareServer::Bounds CShareServer::Fit(int maxViewers, int descriptorLimit) {
    const Bounds asked{maxViewers, kMaxRequests};
    const qint64 room = qint64(descriptorLimit) - kKeptDescriptors;
    if (descriptorLimit < 0 || 2 * qint64(maxViewers) + kMaxRequests <= room)
        return asked;
    const int requests = std::clamp(static_cast<int>(room / 4), 1, kMaxRequests);
    return {std::min(std::max(static_cast<int>((room - requests) / 2), 1), maxViewers), requests};
}

void CShareServer::Stop() {
    m_listener.reset();
    qDeleteAll(findChildren<CHttpConnection*>(Qt::FindDirectChildrenOnly));
    m_upgrading.clear();
    m_viewers.Clear();
    m_fieldsEvents.Clear();
}

QString CShareServer::ViewersLine() const {
    if (!IsServing())
        return {};
    const QString viewers = QStringLiteral("Web viewers: %1").arg(ViewerCount());
    return FieldsStreamCount() == 0
               ? viewers
               : viewers + QStringLiteral(", fields streams: %1").arg(FieldsStreamCount());
}

quint16 CShareServer::ServingPort() const {
    return m_listener ? m_listener->serverPort() : 0;
}

void CShareServer::OnNewConnection() {
    while (QTcpSocket* socket = m_listener->nextPendingConnection()) {
        if (!MakeRoom()) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        auto* connection = new CHttpConnection(socket, this);
        m_requests.push_back({connection, CFairShare::ClientOf(socket->peerAddress())});
        connect(connection, &QObject::destroyed, this, [this, connection] {
            std::erase_if(m_requests,
                          [connection](const Request& r) { return r.m_connection == connection; });
        });
        connect(connection, &CHttpConnection::RequestReady, this, &CShareServer::OnRequest);
    }
}

// False when every request is being answered, so none can give way.
bool CShareServer::MakeRoom() {
    if (std::ssize(m_requests) < m_maxRequests)
        return true;
    const auto oldest = CFairShare::GivingWay(
        m_requests.begin(), m_requests.end(), [](const Request& r) { return r.m_client; },
        [](const Request& r) { return !r.m_connection->IsAnswered(); });
    if (oldest == m_requests.end())
        return false;
    delete oldest->m_connection; // and with it its entry
    return true;
}

void CShareServer::OnRequest(CHttpConnection* connection, const CHttpRequest& request) {
    if (!SameCode(request.QueryItem(QStringLiteral("code")), m_code))
        return connection->Respond(403);
    if (request.Method() != "GET")
        return connection->Respond(405, {}, {}, "Allow: GET\r\n");
    if (request.Path() == kUpgradePath) {
        if (!request.IsUpgrade())
            return connection->Respond(400);
        if (m_viewers.IsFull())
            return connection->Respond(503);
        QTcpSocket* socket = connection->HandOver();
        socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption,
                                CShareViewers::kSocketBufferBytes);
        // Those whose handshake failed are gone.
        std::erase_if(m_upgrading, [](const auto& c) {
            return c.isNull() || c->state() == QAbstractSocket::UnconnectedState;
        });
        m_upgrading.emplace_back(socket);
        return m_upgrader.handleConnection(socket);
    }
    if (AnswerFields(connection, request))
        return;
    const std::optional<CSharePage::File> file = CSharePage::Find(request.Path(), m_code);
    if (!file)
        return connection->Respond(404);
    connection->Respond(200, file->m_body, file->m_type, CSharePage::SecurityHeaders());
}

bool CShareServer::AnswerFields(CHttpConnection* connection, const CHttpRequest& request) {
    const QByteArray& path = request.Path();
    if (path == kFieldsEventsPath) {
        if (!m_fieldsEvents.MakeRoom())
            connection->Respond(503);
        else
            m_fieldsEvents.Add(connection->HandOver(), DelayMs(request));
        return true;
    }
    if (const auto story = m_story.Find(request, m_fields.Definitions())) {
        connection->Respond(story->m_status, story->m_file.m_body, story->m_file.m_type,
                            kFieldsHeaders);
        return true;
    }
    const std::optional<CFieldsFormats::File> file = CFieldsFormats::Find(path, m_fields.Values());
    if (file)
        connection->Respond(200, file->m_body, file->m_type, kFieldsHeaders);
    return file.has_value();
}

void CShareServer::OnUpgraded() {
    while (QWebSocket* socket = m_upgrader.nextPendingConnection()) {
        QTcpSocket* connection = TakeUpgraded(*socket);
        if (m_viewers.IsFull() || !m_listener || !connection) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        m_viewers.Add(socket, connection);
    }
}

QTcpSocket* CShareServer::TakeUpgraded(const QWebSocket& socket) {
    const auto it = std::find_if(m_upgrading.begin(), m_upgrading.end(), [&](const auto& c) {
        return c && c->peerPort() == socket.peerPort() && c->peerAddress() == socket.peerAddress();
    });
    if (it == m_upgrading.end())
        return nullptr;
    QTcpSocket* connection = *it;
    m_upgrading.erase(it);
    return connection;
}
