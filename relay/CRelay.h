#pragma once

#include <QObject>
#include <QStringList>
#include <QTimer>
#include <memory>

class CStation;
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
    void KeepShareCode();
    void Tick();

    std::unique_ptr<CStation> m_station;
    QTimer m_tick;
    QStringList m_logged;
};
