#include "CTnCommPortEx.h"

#include "CTnCommMonitor.h"

CTnCommPortEx::CTnCommPortEx() = default;

CTnCommPortEx::~CTnCommPortEx() {
    Close(); // HandleReceived uses m_tap, which goes before the base closes the port
}

CTnCommPortEx& CTnCommPortEx::operator=(const CTnCommPortEx& other) {
    CTnCommPort::operator=(other);
    return *this;
}

bool CTnCommPortEx::SetProtocol(const int& protocol) {
    if (protocol != kTerminalProtocol)
        return false;
    m_protocol = protocol;
    return true;
}

bool CTnCommPortEx::ViewMonitor(int show) {
    if (show == 0) {
        if (m_monitor)
            m_monitor->hide();
        return true;
    }
    if (show != 1)
        return false;
    if (!m_monitor)
        m_monitor = std::make_unique<CTnCommMonitor>(*this, m_tap);
    m_monitor->show();
    m_monitor->raise();
    m_monitor->activateWindow();
    return true;
}

void CTnCommPortEx::HandleReceived(QByteArrayView chunk) {
    m_tap.Feed(chunk);
    if (m_protocol.load(std::memory_order_relaxed) != kTerminalProtocol)
        return;
    for (const char ch : chunk)
        HandleTerminalData(ch);
}
