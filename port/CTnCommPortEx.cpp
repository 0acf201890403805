#include "CTnCommPortEx.h"

#include "CJournal.h"
#include "CTnCommMonitor.h"

#include <QDir>
#include <algorithm>
#include <iterator>

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
        m_monitor = std::make_unique<CTnCommMonitor>(*this, m_tap, [this] { return StateLines(); });
    m_monitor->show();
    m_monitor->raise();
    m_monitor->activateWindow();
    return true;
}

void CTnCommPortEx::HandleReceived(QByteArrayView chunk) {
    m_tap.Feed(chunk);
    if (m_protocol.load(std::memory_order_relaxed) != kTerminalProtocol)
        return;
    if (CJournal* journal = m_journalFeed.load(std::memory_order_acquire))
        journal->Feed(chunk);
    for (const std::unique_ptr<CLineListener>& listener : m_listeners)
        listener->Feed(chunk);
    for (const char ch : chunk)
        HandleTerminalData(ch);
}

void CTnCommPortEx::AttachJournal(std::unique_ptr<CJournal> journal) {
    m_journalFeed.store(journal.get(), std::memory_order_release);
    m_journal = std::move(journal);
}

QString CTnCommPortEx::JournalState() const {
    if (!m_journal)
        return QStringLiteral("off");
    const CJournal::Status status = m_journal->CurrentStatus();
    if (status.m_file.isEmpty())
        return QStringLiteral("stopped: ") + status.m_reason;
    return QStringLiteral("writing to ") + QDir::toNativeSeparators(status.m_file);
}

void CTnCommPortEx::AttachListener(std::unique_ptr<CLineListener> listener) {
    m_listeners.push_back(std::move(listener));
}

void CTnCommPortEx::AddListener(const std::function<std::unique_ptr<CLineListener>()>& make) {
    BetweenChunks([&] {
        if (std::unique_ptr<CLineListener> listener = make())
            m_listeners.push_back(std::move(listener));
    });
}

std::vector<std::unique_ptr<CLineListener>>
CTnCommPortEx::TakeListeners(const std::function<bool(const CLineListener&)>& which) {
    std::vector<std::unique_ptr<CLineListener>> taken;
    BetweenChunks([&] {
        const auto kept = std::stable_partition(
            m_listeners.begin(), m_listeners.end(),
            [&](const std::unique_ptr<CLineListener>& listener) { return !which(*listener); });
        std::move(kept, m_listeners.end(), std::back_inserter(taken));
        m_listeners.erase(kept, m_listeners.end());
    });
    return taken;
}

QStringList CTnCommPortEx::StateLines() const {
    QStringList lines{QStringLiteral("Journal: ") + JournalState()};
    for (const std::unique_ptr<CLineListener>& listener : m_listeners)
        lines.append(listener->StateLine());
    return lines;
}
