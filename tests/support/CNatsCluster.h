#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <memory>
#include <vector>

// A real Debian nats-server cluster on loopback: every node with JetStream (kept in a temporary
// folder) and an MQTT listener, routed to every other, as a league's brokers would run.
class CNatsCluster {
public:
    explicit CNatsCluster(int nodes);
    ~CNatsCluster();
    CNatsCluster(const CNatsCluster&) = delete;
    CNatsCluster& operator=(const CNatsCluster&) = delete;

    // Starts every node and waits until each takes a retained MQTT message.
    bool Start();
    // Ends node `node` (from 0) without a word, as a machine that fails.
    void Kill(int node);
    // 127.0.0.1:PORT of a node's MQTT listener.
    QString Node(int node) const;
    // mqtt://127.0.0.1:PORT,.../TOPIC over the MQTT listeners of these nodes, in this order.
    QString Url(const std::vector<int>& nodes, const QString& topic) const;
    // 127.0.0.1:PORT of a node's monitoring (its /varz counts messages and connections).
    QString Monitor(int node) const;
    // The node's server process, 0 once it ended.
    qint64 ProcessId(int node) const;
    // Why Start failed: the nodes' logs.
    QString Logs() const;

private:
    struct Server {
        quint16 m_client;
        quint16 m_route;
        quint16 m_mqtt;
        quint16 m_monitor;
        std::unique_ptr<QProcess> m_process;
    };
    bool WriteConfig(int node) const;
    QString Path(int node, const char* what) const;
    bool TakesRetained(int node) const;

    QTemporaryDir m_dir;
    std::vector<Server> m_nodes;
};
