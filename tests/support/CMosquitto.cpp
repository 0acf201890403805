#include "CMosquitto.h"

#include "PortTestSupport.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QTcpSocket>
#include <QThread>
#include <pwd.h>
#include <unistd.h>

CMosquitto::CMosquitto(quint16 bridgeFrom) : m_port(FreeTcpPort()), m_bridgeFrom(bridgeFrom) {}

bool CMosquitto::RequirePassword(const QString& user, const QString& password) {
    QProcess passwd;
    passwd.start(QStringLiteral("mosquitto_passwd"),
                 {QStringLiteral("-c"), QStringLiteral("-b"),
                  m_dir.filePath(QStringLiteral("passwd")), user, password});
    if (!passwd.waitForFinished(10000) || passwd.exitCode() != 0)
        return false;
    m_login = {QStringLiteral("-u"), user, QStringLiteral("-P"), password};
    return true;
}

CMosquitto::~CMosquitto() {
    Stop();
}

bool CMosquitto::Start() {
    // Run as root, it would become user mosquitto, who cannot read the password file here.
    const passwd* self = getpwuid(geteuid());
    QString config = QStringLiteral("listener %1 127.0.0.1\npersistence false\n"
                                    "max_queued_messages 100000\nuser %2\nlog_dest file %3\n")
                         .arg(m_port)
                         .arg(QString::fromLocal8Bit(self ? self->pw_name : "root"))
                         .arg(m_dir.filePath(QStringLiteral("mosquitto.log")));
    if (m_maxPacketSize > 0)
        config += QStringLiteral("max_packet_size %1\n").arg(m_maxPacketSize);
    config += m_login.isEmpty() ? QStringLiteral("allow_anonymous true\n")
                                : QStringLiteral("allow_anonymous false\npassword_file %1\n")
                                      .arg(m_dir.filePath(QStringLiteral("passwd")));
    if (m_bridgeFrom != 0)
        config += QStringLiteral("connection up\naddress 127.0.0.1:%1\ntopic # in 1\n"
                                 "restart_timeout 1\nbridge_protocol_version mqttv311\n")
                      .arg(m_bridgeFrom);
    QFile file(m_dir.filePath(QStringLiteral("mosquitto.conf")));
    if (!file.open(QIODevice::WriteOnly) || file.write(config.toUtf8()) != config.toUtf8().size())
        return false;
    file.close();
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

int CMosquitto::Connections() const {
    QFile log(m_dir.filePath(QStringLiteral("mosquitto.log")));
    if (!log.open(QIODevice::ReadOnly))
        return 0;
    return int(log.readAll().count("New client connected"));
}

bool CMosquitto::Publish(const QString& topic, const QByteArray& payload) {
    const QString path = m_dir.filePath(QStringLiteral("payload"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(payload) != payload.size())
        return false;
    file.close();
    QProcess client;
    client.start(QStringLiteral("mosquitto_pub"),
                 QStringList{QStringLiteral("-h"), QStringLiteral("127.0.0.1"),
                             QStringLiteral("-p"), QString::number(m_port), QStringLiteral("-t"),
                             topic, QStringLiteral("-q"), QStringLiteral("1"), QStringLiteral("-r"),
                             QStringLiteral("-f"), path} +
                     m_login);
    const bool done = client.waitForFinished(30000) &&
                      client.exitStatus() == QProcess::NormalExit && client.exitCode() == 0;
    QFile::remove(path);
    return done;
}
