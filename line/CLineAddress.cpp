#include "CLineAddress.h"

#include "CMqttAddress.h"

#include <QHostAddress>
#include <QRegularExpression>

namespace {

const QString kSchemeSeparator = QStringLiteral("://");

struct Scheme {
    const char* m_name;
    CLineAddress::Kind m_kind;
};
constexpr Scheme kSchemes[] = {{"tcp", CLineAddress::Kind::Tcp},
                               {"rfc2217", CLineAddress::Kind::Rfc2217},
                               {"listen", CLineAddress::Kind::Listen}};

// Splits "HOST:PORT" or "[IPV6]:PORT"; an empty problem when it could.
bool SplitHostPort(const QString& rest, QString& host, QString& port, QString& problem) {
    if (rest.startsWith(QLatin1Char('['))) {
        const qsizetype close = rest.indexOf(QLatin1Char(']'));
        if (close < 0) {
            problem = QStringLiteral("the IPv6 address lacks its closing \"]\"");
            return false;
        }
        host = rest.mid(1, close - 1);
        if (QHostAddress(host).protocol() != QAbstractSocket::IPv6Protocol) {
            problem = QStringLiteral("\"%1\" is not an IPv6 address").arg(host);
            return false;
        }
        if (rest.mid(close + 1, 1) != QLatin1String(":")) {
            problem = QStringLiteral("the address lacks \":PORT\" after \"]\"");
            return false;
        }
        port = rest.mid(close + 2);
        return true;
    }
    const qsizetype colon = rest.lastIndexOf(QLatin1Char(':'));
    if (colon < 0) {
        problem = QStringLiteral("the address lacks the port: write HOST:PORT");
        return false;
    }
    host = rest.left(colon);
    port = rest.mid(colon + 1);
    if (host.contains(QLatin1Char(':'))) {
        problem = QStringLiteral("an IPv6 address goes in brackets, like [::1]:4001");
        return false;
    }
    return true;
}

QString HostProblem(CLineAddress::Kind kind, const QString& host) {
    if (kind == CLineAddress::Kind::Listen) {
        if (!host.isEmpty() && QHostAddress(host).isNull())
            return QStringLiteral("listen:// takes an IP address of this computer, or none for "
                                  "all of them, not \"%1\"")
                .arg(host);
        return {};
    }
    if (host.isEmpty())
        return QStringLiteral("the address lacks the host name");
    static const QRegularExpression kHostName(QStringLiteral("^[A-Za-z0-9_.-]+$"));
    if (!kHostName.match(host).hasMatch() && QHostAddress(host).isNull())
        return QStringLiteral("\"%1\" is not a valid host name").arg(host);
    return {};
}

} // namespace

QString CLineAddress::Problem(const QString& device) {
    QString problem;
    Parse(device, problem);
    return problem;
}

CLineAddress CLineAddress::Parse(const QString& device, QString& problem) {
    problem.clear();
    CLineAddress address;
    if (CMqttAddress::IsMqtt(device)) {
        address.m_kind = Kind::Mqtt;
        CMqttAddress::Parse(device, problem);
        return address;
    }
    const qsizetype separator = device.indexOf(kSchemeSeparator);
    if (separator < 0)
        return address;
    const QString scheme = device.left(separator).toLower();
    const Scheme* known = nullptr;
    for (const Scheme& s : kSchemes)
        if (scheme == QLatin1String(s.m_name))
            known = &s;
    if (!known) {
        problem = QStringLiteral("\"%1://\" is not a kind of line this program knows; use "
                                 "tcp://, rfc2217://, listen:// or mqtt://")
                      .arg(scheme);
        return address;
    }
    address.m_kind = known->m_kind;
    QString rest = device.mid(separator + kSchemeSeparator.size());
    // "listen://4001" leaves out the address altogether.
    if (address.m_kind == Kind::Listen && !rest.contains(QLatin1Char(':')))
        rest.prepend(QLatin1Char(':'));
    QString portText;
    if (!SplitHostPort(rest, address.m_host, portText, problem))
        return address;
    if (problem = HostProblem(address.m_kind, address.m_host); !problem.isEmpty())
        return address;
    bool ok = false;
    const uint port = portText.toUInt(&ok);
    if (!ok || port == 0 || port > 65535 || !portText.at(0).isDigit())
        problem = QStringLiteral("the port \"%1\" is not a number from 1 to 65535").arg(portText);
    address.m_port = static_cast<quint16>(port);
    return address;
}
