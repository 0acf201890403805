#pragma once

#include <QtGlobal>

class QTcpSocket;

// What waits in the program to go out on a connection, in bytes. Over TLS the plain bytes are
// encrypted as soon as they are written and then wait, encrypted, in the socket beneath, which
// the socket's own bytesToWrite() leaves out: a client that stops reading would grow memory
// without bound while looking caught up.
class CSocketBacklog {
public:
    static qint64 Of(const QTcpSocket* socket);
};
