#pragma once

#include "CTerminalScreen.h"
#include "CTtyrecRecord.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// One journal record as History's index takes it from the journal, whose screen interpreted it
// as it was written: where it lies in its file, when it came, and what it did to the rows, so
// that the index need neither read it back nor interpret it again.
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
    const std::vector<std::pair<std::size_t, std::string>>& ChangedRows() const {
        return m_changedRows;
    }

private:
    std::uint64_t m_offset;
    std::uint32_t m_length;
    Time m_time;
    bool m_beginsBlock;
    std::string m_checkpoint;
    std::vector<std::string> m_rowsBefore;
    std::vector<std::pair<std::size_t, std::string>> m_changedRows;
};
