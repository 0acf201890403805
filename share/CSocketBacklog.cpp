#include "CSocketBacklog.h"

#include <QSslSocket>

qint64 CSocketBacklog::Of(const QTcpSocket* socket) {
    if (!socket)
        return 0;
    const auto* tls = qobject_cast<const QSslSocket*>(socket);
    return socket->bytesToWrite() + (tls ? tls->encryptedBytesToWrite() : 0);
}
