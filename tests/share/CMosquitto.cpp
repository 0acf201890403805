#include "CMosquitto.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

namespace {

quint16 FreePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

} // namespace

CMosquitto::CMosquitto(quint16 bridgeFrom) : m_port(FreePort()) {
    QString config = QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\n"
                                    "persistence false\nmax_queued_messages 100000\n")
                         .arg(m_port);
    if (bridgeFrom != 0)
        config += QStringLiteral("connection up\naddress 127.0.0.1:%1\ntopic # in 1\n"
                                 "restart_timeout 1\nbridge_protocol_version mqttv311\n")
                      .arg(bridgeFrom);
    QFile file(m_dir.filePath(QStringLiteral("mosquitto.conf")));
    if (file.open(QIODevice::WriteOnly))
        file.write(config.toUtf8());
}

CMosquitto::~CMosquitto() {
    Stop();
}

bool CMosquitto::Start() {
    m_process.setStandardErrorFile(QProcess::nullDevice());
    m_process.start(QStringLiteral("mosquitto"),
                    {QStringLiteral("-c"), m_dir.filePath(QStringLiteral("mosquitto.conf"))});
    if (!m_process.waitForStarted())
        return false;
    const QDeadlineTimer deadline(5000);
    while (!deadline.hasExpired()) {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, m_port);
        if (probe.waitForConnected(200))
            return true;
        QThread::msleep(20);
    }
    return false;
}

void CMosquitto::Stop() {
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    m_process.waitForFinished();
}

QString CMosquitto::Url(const QString& topic) const {
    return QStringLiteral("mqtt://127.0.0.1:%1/%2").arg(m_port).arg(topic);
}

bool CMosquitto::Publish(const QString& topic, const QByteArray& payload) {
    const QString path = m_dir.filePath(QStringLiteral("payload"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(payload) != payload.size())
        return false;
    file.close();
    QProcess client;
    client.start(QStringLiteral("mosquitto_pub"),
                 {QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                  QString::number(m_port), QStringLiteral("-t"), topic, QStringLiteral("-q"),
                  QStringLiteral("1"), QStringLiteral("-r"), QStringLiteral("-f"), path});
    const bool done = client.waitForFinished(30000) &&
                      client.exitStatus() == QProcess::NormalExit && client.exitCode() == 0;
    QFile::remove(path);
    return done;
}
