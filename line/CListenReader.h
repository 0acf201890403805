#pragma once

#include "CTcpReader.h"

#include <QTcpServer>

// Waits for a device server that dials in (the TCP client mode of the boxes). One connection
// at a time: a new one replaces the one in use, which is the box coming back after its old
// connection died unnoticed. While none is connected the port stays open, waiting.
class CListenReader : public CTcpReader {
    Q_OBJECT
public:
    CListenReader(const CLineAddress& address, Sink sink);

protected:
    State OpenNow() override;
    void Retry() override {}
    void CloseNow() override;
    void Dropped(const QString& reason) override;

private:
    void OnNewConnection();

    QTcpServer m_server;
};
