#include "CMqttAddress.h"

#include <QUrl>

namespace {

constexpr quint16 kPlainPort = 1883;
constexpr quint16 kTlsPort = 8883;

bool HasScheme(const QString& text, QLatin1String scheme) {
    return text.startsWith(scheme, Qt::CaseInsensitive);
}

} // namespace

bool CMqttAddress::IsMqtt(const QString& text) {
    return HasScheme(text, QLatin1String("mqtt://")) || HasScheme(text, QLatin1String("mqtts://"));
}

CMqttAddress CMqttAddress::Parse(const QString& text, QString& problem) {
    problem.clear();
    CMqttAddress address;
    const QUrl url(text, QUrl::StrictMode);
    if (!IsMqtt(text) || !url.isValid()) {
        problem = QStringLiteral("\"%1\" is not an address of the form "
                                 "mqtt://[USER[:PASSWORD]@]HOST:PORT/TOPIC")
                      .arg(text.left(80));
        return address;
    }
    address.m_tls = url.scheme().compare(QLatin1String("mqtts"), Qt::CaseInsensitive) == 0;
    address.m_user = url.userName();
    address.m_password = url.password();
    address.m_host = url.host();
    address.m_port = static_cast<quint16>(url.port(address.m_tls ? kTlsPort : kPlainPort));
    address.m_topic = url.path().mid(1);
    if (address.m_host.isEmpty())
        problem = QStringLiteral("the address lacks the broker's host name");
    else if (address.m_port == 0)
        problem = QStringLiteral("the broker's port is not a number from 1 to 65535");
    else if (address.m_topic.isEmpty() || address.m_topic.endsWith(QLatin1Char('/')))
        problem = QStringLiteral("the address lacks the topic after the broker: HOST:PORT/TOPIC");
    else if (address.m_topic.contains(QLatin1Char('+')) ||
             address.m_topic.contains(QLatin1Char('#')))
        problem = QStringLiteral("the topic \"%1\" holds a wildcard (+ or #)").arg(address.m_topic);
    return address;
}

QByteArray CMqttAddress::Topic(const char* name) const {
    return (m_topic + QLatin1Char('/') + QLatin1String(name)).toUtf8();
}

QString CMqttAddress::Shown() const {
    const QString host =
        m_host.contains(QLatin1Char(':')) ? QLatin1Char('[') + m_host + QLatin1Char(']') : m_host;
    return QStringLiteral("%1://%2:%3/%4")
        .arg(m_tls ? QLatin1String("mqtts") : QLatin1String("mqtt"), host)
        .arg(m_port)
        .arg(m_topic);
}
