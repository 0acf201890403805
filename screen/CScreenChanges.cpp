#include "CScreenChanges.h"

#include "CTerminalScreen.h"

#include <utility>
#include <vector>

CScreenChanges::Change& CScreenChanges::Change::operator|=(const Change& other) {
    m_rows |= other.m_rows;
    m_cursor = m_cursor || other.m_cursor;
    m_messages = m_messages || other.m_messages;
    m_width = m_width || other.m_width;
    return *this;
}

CScreenChanges::Change CScreenChanges::Change::All() {
    return {(std::uint64_t{1} << CTerminalScreen::kRows) - 1, true, true, true};
}

CScreenChanges::CScreenChanges(CTerminalScreen& screen) : m_screen(screen) {
    Seen();
}

int CScreenChanges::Subscribe(Announce announce) {
    const int reader = m_nextReader++;
    m_readers[reader] = {std::move(announce), Change::All()};
    if (m_watched)
        m_watched();
    return reader;
}

void CScreenChanges::Unsubscribe(int reader) {
    m_readers.erase(reader);
}

CScreenChanges::Change CScreenChanges::Take(int reader) {
    const auto found = m_readers.find(reader);
    return found == m_readers.end() ? Change::All() : std::exchange(found->second.m_unread, {});
}

CScreenChanges::Change CScreenChanges::Seen() {
    Change change;
    change.m_rows = m_screen.TakeChangedRows();
    change.m_cursor = m_screen.Row() != m_row || m_screen.Col() != m_col;
    change.m_messages = m_screen.StatusText() != m_status || m_screen.LabelText() != m_label;
    change.m_width = m_screen.Wide() != m_wide;
    m_row = m_screen.Row();
    m_col = m_screen.Col();
    m_wide = m_screen.Wide();
    if (change.m_messages) {
        m_status = m_screen.StatusText();
        m_label = m_screen.LabelText();
    }
    return change;
}

void CScreenChanges::Gather() {
    const Change change = Seen();
    if (!change.Any())
        return;
    std::vector<int> told;
    for (auto& [reader, state] : m_readers) {
        state.m_unread |= change;
        told.push_back(reader);
    }
    // An announcement may subscribe or unsubscribe readers.
    for (const int reader : told)
        if (const auto found = m_readers.find(reader); found != m_readers.end())
            if (const Announce announce = found->second.m_announce)
                announce();
}

void CScreenChanges::CatchUp() {
    if (m_drainNow)
        m_drainNow();
    else
        Gather();
}

void CScreenChanges::SetClock(std::function<void()> drainNow, std::function<void()> watched) {
    m_drainNow = std::move(drainNow);
    m_watched = std::move(watched);
}
