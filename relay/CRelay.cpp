#include "CRelay.h"

#include "CKeptShareCode.h"
#include "CRelayOptions.h"
#include "CScreenChanges.h"
#include "CSettingsKeys.h"
#include "CShareConfig.h"
#include "CShareServer.h"
#include "CStation.h"
#include "CTerminalPort.h"

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

CRelay::~CRelay() = default;

bool CRelay::Start(const CRelayOptions& options) {
    if (!Configure(options))
        return false;
    CTerminalPort& port = m_station->Port();
    if (const QString problem = m_station->StartOutputs(); !problem.isEmpty()) {
        Log(QStringLiteral("The line cannot be published: %1.").arg(problem));
        return false;
    }
    port.SetProtocol(CTnCommPortEx::kTerminalProtocol);
    if (!port.Open()) {
        Log(QStringLiteral("The line %1 cannot be opened: %2")
                .arg(port.Settings().m_device, port.LastError()));
        return false;
    }
    if (!StartSharing())
        return false;
    // Watched from here on, so the screen is drained as the line comes and its buffer stays
    // small while nobody else watches.
    m_station->ScreenChanges().Subscribe({});
    Tick();
    m_tick.start();
    return true;
}

bool CRelay::Configure(const CRelayOptions& options) {
    if (options.m_settings.isEmpty()) {
        m_station = std::make_unique<CStation>();
    } else {
        const QFileInfo file(options.m_settings);
        if (!file.exists()) {
            Log(QStringLiteral("The settings file %1 does not exist.").arg(options.m_settings));
            return false;
        }
        m_station = std::make_unique<CStation>(file.absoluteFilePath());
        if (const QString problem = m_station->Port().ReadSettings(); !problem.isEmpty()) {
            Log(QStringLiteral("The settings file %1 cannot be used: %2. Correct it, or name "
                               "another with --settings.")
                    .arg(options.m_settings, problem));
            return false;
        }
    }
    if (const QString problem = options.ApplyTo(m_station->Port()); !problem.isEmpty()) {
        Log(QStringLiteral("The line cannot be used: %1.").arg(problem));
        return false;
    }
    return true;
}

bool CRelay::StartSharing() {
    KeepShareCode();
    CShareServer& share = m_station->Share();
    if (!m_station->StartSharing()) {
        Log(QStringLiteral("The screen cannot be shared: %1").arg(share.LastError()));
        return false;
    }
    if (share.IsServing())
        Log(QStringLiteral("Sharing the screen at %1")
                .arg(CShareConfig::Load(m_station->Port()).Url(share.ServingPort())));
    return true;
}

// The relay never writes its settings, so a code it made would be lost at every restart, and
// with it every address given out: one made for want of a code is kept in a file of its own.
void CRelay::KeepShareCode() {
    CTerminalPort& port = m_station->Port();
    const QString key = QLatin1String(CSettingsKeys::kShareCode);
    if (!CShareConfig::Load(port).m_on || !port.Option(key).isEmpty())
        return;
    QString said;
    port.SetOption(key, CKeptShareCode(CKeptShareCode::DefaultPath()).Take(said));
    Log(said);
}

// Every state line that changed since the last tick is logged.
void CRelay::Tick() {
    const QStringList lines = m_station->StateLines();
    for (const QString& line : lines)
        if (!m_logged.contains(line))
            Log(line);
    m_logged = lines;
}
