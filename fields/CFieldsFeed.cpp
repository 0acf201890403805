#include "CFieldsFeed.h"

#include "CScreenChanges.h"
#include "CTerminalScreen.h"

CFieldsFeed::CFieldsFeed(CScreenChanges& changes)
    : m_changes(changes), m_screen(changes.Screen()), m_values(CFieldDefinitions()),
      m_announce(kTickMs, [this] { Announce(); }) {}

CFieldsFeed::~CFieldsFeed() {
    if (m_reader >= 0)
        m_changes.Unsubscribe(m_reader);
}

void CFieldsFeed::SetDefinitions(CFieldDefinitions definitions) {
    m_values = CFieldValues(std::move(definitions));
    m_json.clear();
    m_unannounced = true;
    CatchUp();
    Read(CFieldValues::kAllRows);
    if (m_reader >= 0)
        Announced();
    emit DefinitionsChanged();
}

const CFieldValues& CFieldsFeed::Values() {
    CatchUp();
    return m_values;
}

const QByteArray& CFieldsFeed::Json() {
    CatchUp();
    if (m_json.isEmpty())
        m_json = m_values.ToJson();
    return m_json;
}

// Without a subscription nothing says what changed: everything is read.
void CFieldsFeed::CatchUp() {
    m_changes.CatchUp();
    Read(m_reader >= 0 ? m_changes.Take(m_reader).m_rows : CFieldValues::kAllRows);
}

void CFieldsFeed::Read(std::uint64_t changedRows) {
    if (changedRows != 0 && m_values.Update(m_screen, changedRows)) {
        m_json.clear();
        m_unannounced = true;
    }
}

void CFieldsFeed::Announce() {
    if (m_reader >= 0)
        Read(m_changes.Take(m_reader).m_rows);
    if (std::exchange(m_unannounced, false))
        emit Changed();
}

// On the next turn of the event loop: a change may be announced while the values are being
// asked for, and Changed is never emitted from inside Values() or SetDefinitions().
void CFieldsFeed::Announced() {
    QMetaObject::invokeMethod(
        this, [this] { m_announce.Request(); }, Qt::QueuedConnection);
}

void CFieldsFeed::Take(const void* taker) {
    m_takers.insert(taker);
    if (m_reader >= 0)
        return;
    m_reader = m_changes.Subscribe([this] { Announced(); });
    Announced(); // what changed before anyone took the values
}

void CFieldsFeed::LetGo(const void* taker) {
    m_takers.erase(taker);
    if (m_takers.empty() && m_reader >= 0) {
        m_changes.Unsubscribe(std::exchange(m_reader, -1));
        m_announce.Cancel();
    }
}
