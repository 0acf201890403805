#include "CHttpConnection.h"

#include <QTcpSocket>

namespace {

QByteArray Reason(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    default:
        return "Service Unavailable";
    }
}

} // namespace

CHttpConnection::CHttpConnection(QTcpSocket* socket, QObject* parent)
    : QObject(parent), m_socket(socket) {
    m_socket->setParent(this);
    // The socket stops reading once a head can no longer fit; peeking never drains it.
    m_socket->setReadBufferSize(CHttpRequest::kMaxHead + 1);
    connect(m_socket, &QTcpSocket::readyRead, this, &CHttpConnection::OnReadyRead);
    connect(m_socket, &QTcpSocket::disconnected, this, &QObject::deleteLater);
    m_timeout.setSingleShot(true);
    connect(&m_timeout, &QTimer::timeout, m_socket, &QTcpSocket::abort);
    connect(&m_timeout, &QTimer::timeout, this, &QObject::deleteLater);
    m_timeout.start(kTimeoutMs);
    if (m_socket->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, &CHttpConnection::OnReadyRead, Qt::QueuedConnection);
}

void CHttpConnection::OnReadyRead() {
    if (m_answered)
        return;
    const QByteArray head = m_socket->peek(CHttpRequest::kMaxHead + 1);
    CHttpRequest request;
    switch (request.Parse(head)) {
    case CHttpRequest::Result::Incomplete:
        return;
    case CHttpRequest::Result::Malformed:
        Respond(400);
        return;
    case CHttpRequest::Result::Complete:
        emit RequestReady(this, request);
        return;
    }
}

void CHttpConnection::Respond(int status, const QByteArray& body, const QByteArray& type,
                              const QByteArray& extraHeaders) {
    m_answered = true;
    QByteArray response = "HTTP/1.1 " + QByteArray::number(status) + ' ' + Reason(status) +
                          "\r\nContent-Length: " + QByteArray::number(body.size()) +
                          "\r\nConnection: close\r\nCache-Control: no-store\r\n";
    if (!type.isEmpty())
        response += "Content-Type: " + type + "\r\n";
    response += extraHeaders + "\r\n" + body;
    m_socket->write(response);
    // What the client may still send is never read; the close waits for the answer to go out.
    m_socket->disconnectFromHost();
}

QTcpSocket* CHttpConnection::HandOver() {
    m_answered = true;
    m_socket->disconnect(this);
    m_timeout.stop();
    m_socket->setReadBufferSize(0);
    m_socket->setParent(nullptr);
    QTcpSocket* socket = std::exchange(m_socket, nullptr);
    deleteLater();
    return socket;
}
