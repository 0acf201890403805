#pragma once

#include "CTerminalScreen.h"
#include "CTtyrecRecord.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// One journal record as History's index takes it: where it lies in its file, when it came, and
// what it did to the rows, taken from a screen that interprets the file record by record (the
// index's own, reading the file back, or the journal's, which interpreted it as it wrote it),
// so the index need not interpret it again.
class CIndexedRecord {
public:
    using Time = CTtyrecRecord::Time;

    // Before `screen` takes the record; when the record begins a block, the screen as it stands
    // is its checkpoint (none for a file's first block, which starts from a fresh screen).
    CIndexedRecord(std::uint64_t offset, std::uint32_t length, Time time, bool beginsBlock,
                   bool firstOfFile, CTerminalScreen& screen);
    // After `screen` took it: the rows it changed, as they now stand.
    void Interpreted(CTerminalScreen& screen);

    std::uint64_t Offset() const { return m_offset; }
    std::uint32_t Length() const { return m_length; }
    std::uint64_t End() const { return m_offset + CTtyrecRecord::kHeaderSize + m_length; }
    Time When() const { return m_time; }
    bool BeginsBlock() const { return m_beginsBlock; }
    const std::string& Checkpoint() const { return m_checkpoint; }
    // When it begins a block: the rows before it.
    const std::vector<std::string>& RowsBefore() const { return m_rowsBefore; }
    const std::vector<std::pair<int, std::string>>& ChangedRows() const { return m_changedRows; }

private:
    std::uint64_t m_offset;
    std::uint32_t m_length;
    Time m_time;
    bool m_beginsBlock;
    std::string m_checkpoint;
    std::vector<std::string> m_rowsBefore;
    std::vector<std::pair<int, std::string>> m_changedRows;
};
