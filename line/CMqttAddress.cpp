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

// QUrl takes one host: each node of the list is read as an address of its own, with the same
// scheme, user and topic.
CMqttAddress CMqttAddress::Parse(const QString& text, QString& problem) {
    if (!IsMqtt(text))
        return ParseOne(text, problem);
    const qsizetype begin = text.indexOf(QLatin1String("://")) + 3;
    qsizetype end = text.indexOf(QLatin1Char('/'), begin);
    if (end < 0)
        end = text.size();
    const QString authority = text.mid(begin, end - begin);
    const qsizetype hosts = authority.lastIndexOf(QLatin1Char('@')) + 1;
    const QStringList nodes = authority.mid(hosts).split(QLatin1Char(','));
    CMqttAddress address;
    for (const QString& node : nodes) {
        if (nodes.size() > 1 && node.isEmpty()) {
            problem = QStringLiteral("the list of brokers has an empty place: "
                                     "HOST:PORT,HOST:PORT, with nothing else between them");
            return address;
        }
        const CMqttAddress one =
            ParseOne(text.left(begin) + authority.left(hosts) + node + text.mid(end), problem);
        if (!problem.isEmpty())
            return address;
        if (address.m_nodes.contains(one.m_nodes.front())) {
            problem = QStringLiteral("the broker %1 is listed twice").arg(one.NodeShown(0));
            return address;
        }
        if (address.m_nodes.isEmpty())
            address = one;
        else
            address.m_nodes += one.m_nodes;
    }
    return address;
}

CMqttAddress CMqttAddress::ParseOne(const QString& text, QString& problem) {
    problem.clear();
    CMqttAddress address;
    const QUrl url(text, QUrl::StrictMode);
    if (!IsMqtt(text) || !url.isValid()) {
        problem = QStringLiteral("\"%1\" is not an address of the form "
                                 "mqtt://[USER[:PASSWORD]@]HOST:PORT[,HOST:PORT...]/TOPIC")
                      .arg(text.left(80));
        return address;
    }
    address.m_tls = url.scheme().compare(QLatin1String("mqtts"), Qt::CaseInsensitive) == 0;
    address.m_user = url.userName();
    address.m_password = url.password();
    const Node node{url.host(),
                    static_cast<quint16>(url.port(address.m_tls ? kTlsPort : kPlainPort))};
    address.m_nodes = {node};
    address.m_topic = url.path().mid(1);
    if (node.m_host.isEmpty())
        problem = QStringLiteral("the address lacks the broker's host name");
    else if (node.m_port == 0)
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

QString CMqttAddress::NodeShown(qsizetype node) const {
    const Node& n = m_nodes.at(node);
    const QString host = n.m_host.contains(QLatin1Char(':'))
                             ? QLatin1Char('[') + n.m_host + QLatin1Char(']')
                             : n.m_host;
    return QStringLiteral("%1:%2").arg(host).arg(n.m_port);
}

QString CMqttAddress::Shown() const {
    QStringList nodes;
    for (qsizetype node = 0; node < m_nodes.size(); ++node)
        nodes << NodeShown(node);
    return QStringLiteral("%1://%2/%3")
        .arg(m_tls ? QLatin1String("mqtts") : QLatin1String("mqtt"), nodes.join(QLatin1Char(',')))
        .arg(m_topic);
}
