// libFuzzer target: one connection of the web view, driven in-process over a socket pair. The
// first byte chooses how the bytes arrive (a chunk size) and what the receiver of a complete
// request does (answer it or take the socket); the rest is what the client sends. A
// malformed request is answered 400, a complete one reaches the receiver once, nothing is
// answered while a request is incomplete, and the connection deletes itself once the client
// has gone.
#include "CHttpConnection.h"
#include "FuzzCheck.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTcpSocket>
#include <cstdint>
#include <sys/socket.h>
#include <unistd.h>

namespace {

enum class Answer { Respond, HandOver };

class CClient {
public:
    CClient() {
        int fds[2];
        Check(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds) == 0);
        m_fd = fds[0];
        m_serverFd = fds[1];
    }
    ~CClient() { Close(); }

    int TakeServerEnd() { return std::exchange(m_serverFd, -1); }
    void Send(QByteArrayView bytes) {
        Check(::write(m_fd, bytes.data(), size_t(bytes.size())) == bytes.size());
    }
    // What the server sent so far; true once it closed its end.
    bool Read() {
        char buffer[4096];
        for (;;) {
            const ssize_t got = ::read(m_fd, buffer, sizeof buffer);
            if (got <= 0)
                return got == 0;
            m_received.append(buffer, got);
        }
    }
    const QByteArray& Received() const { return m_received; }
    void Close() {
        for (int* fd : {&m_fd, &m_serverFd})
            if (*fd >= 0)
                ::close(std::exchange(*fd, -1));
    }

private:
    int m_fd = -1;
    int m_serverFd = -1;
    QByteArray m_received;
};

void RunEventsUntil(const std::function<bool()>& done) {
    while (!done()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const qsizetype chunk = data[0] & 0x3F ? data[0] & 0x3F : CHttpRequest::kMaxHead * 2;
    const auto answer = static_cast<Answer>(data[0] >> 7);
    const QByteArrayView stream(data + 1, qsizetype(size) - 1);
    // The connection sees at most a head and a byte more: it stops reading there.
    const QByteArrayView seen = stream.first(std::min(stream.size(), CHttpRequest::kMaxHead + 1));
    CHttpRequest expected;
    const CHttpRequest::Result outcome = expected.Parse(seen);

    CClient client;
    auto* socket = new QTcpSocket;
    Check(socket->setSocketDescriptor(client.TakeServerEnd()));
    QPointer<CHttpConnection> connection = new CHttpConnection(socket, nullptr);
    int requests = 0;
    QTcpSocket* handedOver = nullptr;
    QObject::connect(connection, &CHttpConnection::RequestReady,
                     [&](CHttpConnection* ready, const CHttpRequest& request) {
                         ++requests;
                         Check(ready == connection && request.HeadSize() == expected.HeadSize());
                         if (answer == Answer::Respond)
                             ready->Respond(200, request.Path(), "text/plain");
                         else
                             handedOver = ready->HandOver();
                     });
    // A connection that answered stops reading, so only what it has read is waited for.
    for (qsizetype at = 0; at < stream.size(); at += chunk) {
        client.Send(stream.sliced(at, std::min(chunk, stream.size() - at)));
        const qsizetype sent = std::min(at + chunk, stream.size());
        RunEventsUntil([&] {
            return !connection || requests > 0 || connection->IsAnswered() ||
                   socket->bytesAvailable() >= std::min(sent, seen.size());
        });
        if (!connection || requests > 0 || connection->IsAnswered())
            break;
    }
    RunEventsUntil([&] {
        return !connection || connection->IsAnswered() || requests > 0 ||
               socket->bytesAvailable() >= seen.size();
    });
    Check(requests == (outcome == CHttpRequest::Result::Complete ? 1 : 0));

    if (handedOver) {
        Check(handedOver->peek(expected.HeadSize()) == seen.first(expected.HeadSize()));
        delete handedOver;
        client.Close();
        RunEventsUntil([&] { return !connection; });
        return 0;
    }
    if (outcome != CHttpRequest::Result::Incomplete) {
        RunEventsUntil([&] { return client.Read(); });
        const QByteArray status = outcome == CHttpRequest::Result::Malformed
                                      ? "HTTP/1.1 400 Bad Request\r\n"
                                      : "HTTP/1.1 200 OK\r\n";
        const QByteArray& received = client.Received();
        Check(received.startsWith(status) && received.contains("\r\n\r\n"));
        if (outcome == CHttpRequest::Result::Complete)
            Check(received.endsWith("\r\n\r\n" + expected.Path()));
    } else {
        // Still waiting for the rest of its request, until the client goes or its time is up.
        Check(connection && !client.Read() && client.Received().isEmpty());
    }
    client.Close();
    RunEventsUntil([&] { return !connection; });
    return 0;
}
