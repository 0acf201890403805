#pragma once

#include <QSslConfiguration>
#include <QTcpServer>

// Accepts connections for TLS and hands each one over at once, its handshake just begun, so
// the handshake counts against the server's own bounds on requests and their time limit.
// QSslServer keeps connections back until their handshake ends and, once as many wait as it
// lets pend, stops accepting for good (closing them does not resume it).
class CTlsListener : public QTcpServer {
    Q_OBJECT
public:
    explicit CTlsListener(const QSslConfiguration& tls, QObject* parent = nullptr);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    QSslConfiguration m_tls;
};
