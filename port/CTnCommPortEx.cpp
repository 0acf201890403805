#include "CTnCommPortEx.h"

#include "CPortViews.h"

#include <algorithm>
#include <iterator>

CTnCommPortEx::CTnCommPortEx() {
    auto tap = std::make_unique<CTrafficTap>();
    m_tap = tap.get();
    m_listeners.push_back(std::move(tap));
}

CTnCommPortEx::~CTnCommPortEx() {
    if (const CPortViews* views = CPortViews::Installed())
        views->m_forget(*this);
    Close(); // HandleReceived uses the listeners, which go before the base closes the port
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
    if (show != 0 && show != 1)
        return false;
    if (const CPortViews* views = CPortViews::Installed())
        views->m_showMonitor(*this, show == 1);
    return true;
}

// The one fan-out of the line: every listener, then the protocol handler.
void CTnCommPortEx::HandleReceived(QByteArrayView chunk) {
    for (const std::unique_ptr<CLineListener>& listener : m_listeners)
        listener->Feed(chunk);
    if (m_protocol.load(std::memory_order_relaxed) != kTerminalProtocol)
        return;
    for (const char ch : chunk)
        HandleTerminalData(ch);
}

void CTnCommPortEx::AttachListener(std::unique_ptr<CLineListener> listener) {
    Join(std::move(listener));
}

void CTnCommPortEx::AddListener(const std::function<std::unique_ptr<CLineListener>()>& make) {
    BetweenChunks([&] {
        if (std::unique_ptr<CLineListener> listener = make())
            Join(std::move(listener));
    });
}

void CTnCommPortEx::Join(std::unique_ptr<CLineListener> listener) {
    listener->Joined([this](const std::function<void()>& action) { BetweenChunks(action); });
    m_listeners.push_back(std::move(listener));
}

std::vector<std::unique_ptr<CLineListener>>
CTnCommPortEx::TakeListeners(const std::function<bool(const CLineListener&)>& which) {
    std::vector<std::unique_ptr<CLineListener>> taken;
    BetweenChunks([&] {
        const auto kept =
            std::stable_partition(m_listeners.begin(), m_listeners.end(),
                                  [&](const std::unique_ptr<CLineListener>& listener) {
                                      return listener.get() == m_tap || !which(*listener);
                                  });
        std::move(kept, m_listeners.end(), std::back_inserter(taken));
        m_listeners.erase(kept, m_listeners.end());
    });
    return taken;
}

QStringList CTnCommPortEx::StateLines() const {
    QStringList lines = m_notes;
    for (const std::unique_ptr<CLineListener>& listener : m_listeners)
        if (const QString line = listener->StateLine(); !line.isEmpty())
            lines.append(line.split(QLatin1Char('\n')));
    return lines;
}
