#pragma once

#include "CTnCommPort.h"
#include "CTrafficTap.h"

#include <atomic>
#include <memory>

class CTnCommMonitor;

// A port that hands what it receives to a protocol handler, with a traffic monitor window.
class CTnCommPortEx : public CTnCommPort {
public:
    // Received bytes go one at a time, in order, to HandleTerminalData.
    static constexpr int kTerminalProtocol = 3;

    CTnCommPortEx();
    ~CTnCommPortEx() override;
    CTnCommPortEx& operator=(const CTnCommPortEx& other);

    // Only kTerminalProtocol exists; any other number is refused and changes nothing.
    bool SetProtocol(const int& protocol);
    int Protocol() const { return m_protocol; }
    // 1 shows the traffic monitor window (modeless), 0 hides it.
    bool ViewMonitor(int show);
    CTnCommMonitor* Monitor() const { return m_monitor.get(); }

protected:
    void HandleReceived(QByteArrayView chunk) override;

private:
    std::atomic<int> m_protocol{0};
    CTrafficTap m_tap;
    std::unique_ptr<CTnCommMonitor> m_monitor;
};
