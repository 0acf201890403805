#include "CNatsCluster.h"

#include "PortTestSupport.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QStringList>
#include <QThread>

namespace {

constexpr int kReadyMs = 30000;

} // namespace

CNatsCluster::CNatsCluster(int nodes) {
    for (int i = 0; i < nodes; ++i)
        m_nodes.push_back({FreeTcpPort(), FreeTcpPort(), FreeTcpPort(), FreeTcpPort(),
                           std::make_unique<QProcess>()});
}

CNatsCluster::~CNatsCluster() {
    for (Server& node : m_nodes)
        if (node.m_process->state() != QProcess::NotRunning) {
            node.m_process->terminate();
            node.m_process->waitForFinished();
        }
}

QString CNatsCluster::Path(int node, const char* what) const {
    return m_dir.filePath(QStringLiteral("n%1.%2").arg(node + 1).arg(QLatin1String(what)));
}

// MQTT needs JetStream, which in a cluster needs every server named.
bool CNatsCluster::WriteConfig(int node) const {
    QStringList routes;
    for (const Server& other : m_nodes)
        routes << QStringLiteral("nats-route://127.0.0.1:%1").arg(other.m_route);
    const Server& self = m_nodes[std::size_t(node)];
    const QString config = QStringLiteral("server_name: n%1\nlisten: 127.0.0.1:%2\n"
                                          "log_file: \"%3\"\n"
                                          "jetstream { store_dir: \"%4\" }\n"
                                          "cluster { name: league, listen: 127.0.0.1:%5, "
                                          "routes: [%6] }\n"
                                          "mqtt { listen: 127.0.0.1:%7 }\n"
                                          "http: 127.0.0.1:%8\n")
                               .arg(node + 1)
                               .arg(self.m_client)
                               .arg(Path(node, "log"), Path(node, "store"))
                               .arg(self.m_route)
                               .arg(routes.join(QStringLiteral(", ")))
                               .arg(self.m_mqtt)
                               .arg(self.m_monitor);
    QFile file(Path(node, "conf"));
    return file.open(QIODevice::WriteOnly) && file.write(config.toUtf8()) == config.toUtf8().size();
}

bool CNatsCluster::Start() {
    for (int i = 0; i < int(m_nodes.size()); ++i) {
        if (!WriteConfig(i))
            return false;
        QProcess& process = *m_nodes[std::size_t(i)].m_process;
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice());
        process.start(QStringLiteral("nats-server"), {QStringLiteral("-c"), Path(i, "conf")});
        if (!process.waitForStarted())
            return false;
    }
    const QDeadlineTimer deadline(kReadyMs);
    for (int i = 0; i < int(m_nodes.size()); ++i)
        while (!TakesRetained(i))
            if (deadline.hasExpired())
                return false;
    return true;
}

// Only once its cluster has elected the leaders of JetStream does a node take one.
bool CNatsCluster::TakesRetained(int node) const {
    QProcess client;
    client.start(QStringLiteral("mosquitto_pub"),
                 {QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                  QString::number(m_nodes[std::size_t(node)].m_mqtt), QStringLiteral("-t"),
                  QStringLiteral("ready"), QStringLiteral("-m"), QStringLiteral("yes"),
                  QStringLiteral("-q"), QStringLiteral("1"), QStringLiteral("-r")});
    const bool done = client.waitForFinished(5000) && client.exitStatus() == QProcess::NormalExit &&
                      client.exitCode() == 0;
    if (!done) {
        client.kill();
        client.waitForFinished();
        QThread::msleep(200);
    }
    return done;
}

void CNatsCluster::Kill(int node) {
    QProcess& process = *m_nodes[std::size_t(node)].m_process;
    process.kill();
    process.waitForFinished();
}

QString CNatsCluster::Node(int node) const {
    return QStringLiteral("127.0.0.1:%1").arg(m_nodes[std::size_t(node)].m_mqtt);
}

QString CNatsCluster::Monitor(int node) const {
    return QStringLiteral("127.0.0.1:%1").arg(m_nodes[std::size_t(node)].m_monitor);
}

qint64 CNatsCluster::ProcessId(int node) const {
    return m_nodes[std::size_t(node)].m_process->processId();
}

QString CNatsCluster::Url(const std::vector<int>& nodes, const QString& topic) const {
    QStringList hosts;
    for (const int node : nodes)
        hosts << Node(node);
    return QStringLiteral("mqtt://%1/%2").arg(hosts.join(QLatin1Char(',')), topic);
}

QString CNatsCluster::Logs() const {
    QString logs;
    for (int i = 0; i < int(m_nodes.size()); ++i) {
        QFile file(Path(i, "log"));
        if (file.open(QIODevice::ReadOnly))
            logs += QString::fromUtf8(file.readAll().right(2000));
    }
    return logs;
}
