#pragma once

#include "CHttpRequest.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>

class QTcpSocket;

// One connection while it sends its request and gets its answer: bounded in size and time,
// one request per connection. A malformed request is answered 400 and the connection closed;
// nothing else is affected. Deletes itself when its connection ends.
class CHttpConnection : public QObject {
    Q_OBJECT
public:
    static constexpr int kTimeoutMs = 10000;

    // Takes the socket over.
    CHttpConnection(QTcpSocket* socket, QObject* parent);

    // Answers and closes: the status line, the usual headers and the body, if any.
    void Respond(int status, const QByteArray& body = {}, const QByteArray& type = {},
                 const QByteArray& extraHeaders = {});
    // Gives the socket up, its request still unread in it, and deletes this object.
    QTcpSocket* HandOver();
    // Its request came whole and was answered (or handed over).
    bool IsAnswered() const { return m_answered; }

signals:
    // The request arrived whole; the receiver answers it or takes the socket.
    void RequestReady(CHttpConnection* connection, const CHttpRequest& request);

private:
    void OnReadyRead();

    QTcpSocket* m_socket;
    QTimer m_timeout;
    bool m_answered = false;
};
