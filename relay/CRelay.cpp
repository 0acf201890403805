#include "CRelay.h"

#include "CMqttPublisher.h"
#include "CRelayOptions.h"
#include "CShareServer.h"

#include <QDebug>
#include <QFileInfo>

namespace {

void Log(const QString& text) {
    qInfo().noquote() << text;
}

} // namespace

CRelay::CRelay() {
    m_tick.setInterval(kTickMs);
    connect(&m_tick, &QTimer::timeout, this, [this] { Tick(); });
}

// The server goes before the screen it reads; closing the port stops the reader, and the
// publisher it owns says "offline" on its way out.
CRelay::~CRelay() {
    m_share.reset();
    if (m_port)
        m_port->Close();
}

bool CRelay::Start(const CRelayOptions& options) {
    if (!Configure(options))
        return false;
    m_port->StartJournal();
    if (const QString problem = CMqttPublisher::AttachTo(*m_port); !problem.isEmpty()) {
        Log(QStringLiteral("The line cannot be published: %1.").arg(problem));
        return false;
    }
    m_port->SetProtocol(CTnCommPortEx::kTerminalProtocol);
    if (!m_port->Open()) {
        Log(QStringLiteral("The line %1 cannot be opened: %2")
                .arg(m_port->Settings().m_device, m_port->LastError()));
        return false;
    }
    if (!StartSharing())
        return false;
    Tick();
    m_tick.start();
    return true;
}

bool CRelay::Configure(const CRelayOptions& options) {
    if (options.m_settings.isEmpty()) {
        m_port = std::make_unique<CTerminalPort>();
    } else {
        const QFileInfo file(options.m_settings);
        if (!file.exists()) {
            Log(QStringLiteral("The settings file %1 does not exist.").arg(options.m_settings));
            return false;
        }
        m_port = std::make_unique<CTerminalPort>(file.absoluteFilePath());
        if (!m_port->ReadSettings())
            return false; // said why
    }
    if (const QString problem = options.ApplyTo(*m_port); !problem.isEmpty()) {
        Log(QStringLiteral("The line cannot be used: %1.").arg(problem));
        return false;
    }
    return true;
}

bool CRelay::StartSharing() {
    const CShareConfig config = CShareConfig::Load(*m_port);
    if (!config.m_on)
        return true;
    m_share = std::make_unique<CShareServer>(*m_port, [this] { return m_port->IsOpen(); });
    if (!m_share->Start(config)) {
        Log(QStringLiteral("The screen cannot be shared: %1").arg(m_share->LastError()));
        return false;
    }
    Log(QStringLiteral("Sharing the screen at %1").arg(config.Url(m_share->ServingPort())));
    return true;
}

// The screen is drained as often as the window would, so its buffer stays small while nobody
// watches; every state line that changed since the last tick is logged.
void CRelay::Tick() {
    m_port->ProcessReceived();
    const QStringList lines = StateLines();
    for (const QString& line : lines)
        if (!m_logged.contains(line))
            Log(line);
    m_logged = lines;
}

QStringList CRelay::StateLines() const {
    QStringList lines = m_port->LineStatus();
    lines << m_port->StateLines();
    if (m_share)
        lines << m_share->ViewersLine();
    return lines;
}
