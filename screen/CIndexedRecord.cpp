#include "CIndexedRecord.h"

#include "CScreenCommands.h"

#include <bit>

// The marks left by earlier records are taken too, so the next ones are this record's alone.
CIndexedRecord::CIndexedRecord(std::uint64_t offset, std::uint32_t length, Time time,
                               bool beginsBlock, bool firstOfFile, CTerminalScreen& screen)
    : m_offset(offset), m_length(length), m_time(time), m_beginsBlock(beginsBlock) {
    screen.TakeChangedRows();
    if (!beginsBlock)
        return;
    if (!firstOfFile)
        m_checkpoint = CScreenCommands::Of(screen);
    m_rowsBefore = screen.Rows();
}

void CIndexedRecord::Interpreted(CTerminalScreen& screen) {
    const std::vector<std::string>& rows = screen.Rows();
    for (std::uint64_t changed = screen.TakeChangedRows(); changed != 0; changed &= changed - 1) {
        const auto row = static_cast<std::size_t>(std::countr_zero(changed));
        if (row >= rows.size())
            break;
        m_changedRows.emplace_back(row, rows[row]);
    }
}
