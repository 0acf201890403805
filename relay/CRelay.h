#pragma once

#include "CTerminalPort.h"

#include <QObject>
#include <QStringList>
#include <QTimer>
#include <memory>

class CShareServer;
struct CRelayOptions;

// The window's work without the window: one line read, journalled, shared and published by the
// same classes, its state logged to standard error whenever it changes.
class CRelay : public QObject {
public:
    static constexpr int kTickMs = 1000;

    CRelay();
    ~CRelay() override;

    // Reads the settings, applies the options and opens the line; false, with the reason logged,
    // when the relay cannot run.
    bool Start(const CRelayOptions& options);

private:
    bool Configure(const CRelayOptions& options);
    bool StartSharing();
    void Tick();
    QStringList StateLines() const;

    std::unique_ptr<CTerminalPort> m_port;
    std::unique_ptr<CShareServer> m_share;
    QTimer m_tick;
    QStringList m_logged;
};
