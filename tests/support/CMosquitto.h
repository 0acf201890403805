#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A real Debian mosquitto broker on a loopback port, with a configuration file written here;
// optionally a bridge that brings every topic in from another broker, or a password file
// (mosquitto_passwd's) that every client must match.
class CMosquitto {
public:
    explicit CMosquitto(quint16 bridgeFrom = 0);
    ~CMosquitto();
    CMosquitto(const CMosquitto&) = delete;
    CMosquitto& operator=(const CMosquitto&) = delete;

    // From the next Start, only this user with this password may connect.
    bool RequirePassword(const QString& user, const QString& password);
    // From the next Start, a client that sends a packet larger than `bytes` is disconnected,
    // and MQTT 5 clients are told the limit when they connect.
    void SetMaxPacketSize(int bytes) { m_maxPacketSize = bytes; }
    // Starts (again, on the same port) and waits until it takes connections.
    bool Start();
    void Stop();
    quint16 Port() const { return m_port; }
    qint64 ProcessId() const { return m_process.processId(); }
    QString Url(const QString& topic) const;
    // The clients that have connected since the broker was made, from its log.
    int Connections() const;
    // Publishes retained at QoS 1 with mosquitto_pub, as a client of another process would;
    // true once the broker has the message.
    bool Publish(const QString& topic, const QByteArray& payload);

private:
    QTemporaryDir m_dir;
    quint16 m_port;
    quint16 m_bridgeFrom;
    int m_maxPacketSize = 0; // 0: the broker's own
    QStringList m_login;     // mosquitto_pub's arguments for the user, when one is required
    QProcess m_process;
};
