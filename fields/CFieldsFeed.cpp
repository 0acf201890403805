#include "CFieldsFeed.h"

#include "CTerminalScreen.h"

CFieldsFeed::CFieldsFeed(CTerminalScreen& screen, std::function<bool()> mayDrain)
    : m_screen(screen), m_mayDrain(std::move(mayDrain)), m_values(CFieldDefinitions()) {
    m_tick.setTimerType(Qt::PreciseTimer);
    m_tick.setInterval(kTickMs);
    connect(&m_tick, &QTimer::timeout, this, &CFieldsFeed::Tick);
}

void CFieldsFeed::SetDefinitions(CFieldDefinitions definitions) {
    m_values = CFieldValues(std::move(definitions));
    m_json.clear();
    m_unannounced = true;
    Read();
    emit DefinitionsChanged();
}

const CFieldValues& CFieldsFeed::Values() {
    Read();
    return m_values;
}

const QByteArray& CFieldsFeed::Json() {
    Read();
    if (m_json.isEmpty())
        m_json = m_values.ToJson();
    return m_json;
}

void CFieldsFeed::Read() {
    if (m_mayDrain())
        m_screen.ProcessReceived();
    if (m_values.Update(m_screen)) {
        m_json.clear();
        m_unannounced = true;
    }
}

void CFieldsFeed::Tick() {
    Read();
    if (std::exchange(m_unannounced, false))
        emit Changed();
}

void CFieldsFeed::Take(const void* taker) {
    m_takers.insert(taker);
    if (!m_tick.isActive())
        m_tick.start();
}

void CFieldsFeed::LetGo(const void* taker) {
    m_takers.erase(taker);
    if (m_takers.empty())
        m_tick.stop();
}
