#pragma once

#include "CLineAddress.h"
#include "CLineReader.h"
#include "CRfc2217Session.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <memory>
#include <optional>

// A device server reached over TCP: the bytes of the connection are the line's (tcp://), or
// carry a Telnet layer with the COM-PORT option (rfc2217://) that is taken off here. A refused
// or dropped connection is tried again about once a second; TCP keepalive finds a connection
// whose far end vanished without closing it (cable pulled) within kDeadPeerMs.
class CTcpReader : public CLineReader {
    Q_OBJECT
public:
    static constexpr int kConnectMs = 5000;
    static constexpr int kDeadPeerMs = 14000;
    // How long the RFC 2217 server has to answer the settings before they count as ignored.
    static constexpr int kAnswerMs = 3000;

    CTcpReader(const CLineAddress& address, Sink sink);

    // "connection refused", "host not found", ...: what went wrong, the way operators say it.
    static QString ErrorWords(const QAbstractSocket& socket);

protected:
    State OpenNow() override;
    void Retry() override;
    void CloseNow() override;
    // Takes over a connected socket as the line.
    void Use(std::unique_ptr<QTcpSocket> socket);
    void CloseSocket();
    // The connection in use closed or failed; reason says why.
    virtual void Dropped(const QString& reason);
    const CLineAddress& Address() const { return m_address; }
    // "tcp HOST:PORT" and, once connected, the far end: its address where HOST is a name, the
    // device server's address and port where it dialled in.
    QString LinkWords(const QTcpSocket* connected) const;

private:
    void Connect();
    void OnConnected();
    void OnReadyRead();
    void OnError();
    void OnAnswerTimeout();

    CLineAddress m_address;
    std::unique_ptr<QTcpSocket> m_socket;
    QElapsedTimer m_attempt;
    std::optional<CRfc2217Session> m_telnet;
    QTimer m_answerTimer;
};
