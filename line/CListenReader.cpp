#include "CListenReader.h"

#include <QHostAddress>

CListenReader::CListenReader(const CLineAddress& address, Sink sink)
    : CTcpReader(address, std::move(sink)), m_server(this) {
    connect(&m_server, &QTcpServer::newConnection, this, &CListenReader::OnNewConnection);
}

CLineReader::State CListenReader::OpenNow() {
    const QHostAddress address = Address().m_host.isEmpty() ? QHostAddress(QHostAddress::Any)
                                                            : QHostAddress(Address().m_host);
    SetLink(LinkWords(nullptr));
    if (m_server.listen(address, Address().m_port))
        return State::Waiting;
    SetError(QStringLiteral("%1: %2").arg(Settings().m_device, m_server.errorString()));
    return State::Closed;
}

void CListenReader::OnNewConnection() {
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        Use(std::unique_ptr<QTcpSocket>(socket)); // in place of the one in use, if any
        SetStatus(State::Open, LastError());
    }
}

void CListenReader::Dropped(const QString& reason) {
    CloseSocket();
    SetLink(LinkWords(nullptr));
    SetStatus(State::Waiting, reason);
}

void CListenReader::CloseNow() {
    CloseSocket();
    m_server.close();
}
