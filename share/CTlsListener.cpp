#include "CTlsListener.h"

#include <QSslSocket>

CTlsListener::CTlsListener(const QSslConfiguration& tls, QObject* parent)
    : QTcpServer(parent), m_tls(tls) {}

void CTlsListener::incomingConnection(qintptr descriptor) {
    auto* socket = new QSslSocket(this);
    socket->setSslConfiguration(m_tls);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    socket->startServerEncryption();
    addPendingConnection(socket);
}
