#include "CShareConfig.h"

#include "CSettingsKeys.h"
#include "CTnCommPort.h"

#include <QNetworkInterface>
#include <utility>

namespace {

const QString kShare = QLatin1String(CSettingsKeys::kShare);
const QString kAddress = QLatin1String(CSettingsKeys::kShareAddress);
const QString kPort = QLatin1String(CSettingsKeys::kSharePort);
const QString kCode = QLatin1String(CSettingsKeys::kShareCode);
const QString kCertificate = QLatin1String(CSettingsKeys::kShareCertificate);
const QString kKey = QLatin1String(CSettingsKeys::kShareKey);
const QString kViewers = QLatin1String(CSettingsKeys::kShareViewers);

const QString kOn = QStringLiteral("on");
const QString kAll = QStringLiteral("all");

QString ReachableAddress() {
    for (const QNetworkInterface& face : QNetworkInterface::allInterfaces()) {
        if (!face.flags().testFlag(QNetworkInterface::IsUp) ||
            face.flags().testFlag(QNetworkInterface::IsLoopBack))
            continue;
        for (const QNetworkAddressEntry& entry : face.addressEntries())
            if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol)
                return entry.ip().toString();
    }
    return QStringLiteral("127.0.0.1");
}

} // namespace

CShareConfig CShareConfig::Load(const CTnCommPort& port) {
    CShareConfig config;
    config.m_on = port.Option(kShare) == kOn;
    config.m_allNetworks = port.Option(kAddress) == kAll;
    config.m_port =
        static_cast<quint16>(CSettingsKeys::Number(CSettingsKeys::kSharePort, port.Option(kPort)));
    config.m_maxViewers =
        CSettingsKeys::Number(CSettingsKeys::kShareViewers, port.Option(kViewers));
    config.m_code = port.Option(kCode);
    if (!IsCode(config.m_code))
        config.m_code = CSettingsKeys::NewCode();
    config.m_certificate = port.Option(kCertificate);
    config.m_key = port.Option(kKey);
    return config;
}

void CShareConfig::Store(CTnCommPort& port) const {
    port.SetOption(kShare, m_on ? kOn : QStringLiteral("off"));
    port.SetOption(kAddress, m_allNetworks ? kAll : QStringLiteral("local"));
    port.SetOption(kPort, QString::number(m_port));
    port.SetOption(kCode, m_code);
    // Only a file that ever had TLS or another bound carries their keys.
    for (const auto& [key, value] : {std::pair{kCertificate, m_certificate}, {kKey, m_key}})
        if (!value.isEmpty() || !port.Option(key).isEmpty())
            port.SetOption(key, value);
    if (m_maxViewers != kDefaultMaxViewers || !port.Option(kViewers).isEmpty())
        port.SetOption(kViewers, QString::number(m_maxViewers));
}

bool CShareConfig::IsCode(const QString& text) {
    return CSettingsKeys::Problem(CSettingsKeys::Find(CSettingsKeys::kShareCode), text).isEmpty();
}

QHostAddress CShareConfig::Address() const {
    return QHostAddress(m_allNetworks ? QHostAddress::Any : QHostAddress::LocalHost);
}

QString CShareConfig::Url(quint16 servedPort) const {
    const QString host = m_allNetworks ? ReachableAddress() : QStringLiteral("127.0.0.1");
    return QStringLiteral("%1://%2:%3/?code=%4")
        .arg(Secure() ? QStringLiteral("https") : QStringLiteral("http"), host)
        .arg(servedPort)
        .arg(m_code);
}
