#pragma once

#include <cstddef>
#include <limits>
#include <string>
#include <vector>

// When tallyview-replay drains the screen's receive queue: after every N bytes, or after the
// byte counts listed in a file. The final drain at the end of the capture is always made.
class CDrainSchedule {
public:
    static constexpr std::size_t kNever = std::numeric_limits<std::size_t>::max();

    static CDrainSchedule AtEndOnly() { return CDrainSchedule(); }
    static CDrainSchedule EveryChunk(std::size_t chunk);
    // One decimal byte count per line, ascending; throws naming the file and the line.
    static CDrainSchedule FromFile(const std::string& path);

    // The byte count after which the next drain is due; kNever when none is left.
    std::size_t Next() const { return m_next; }
    void Advance();
    // Throws when a listed drain lies beyond the end of a capture of total bytes.
    void CheckEnd(std::size_t total) const;

private:
    std::size_t m_chunk = 0;
    std::vector<std::size_t> m_offsets;
    std::size_t m_index = 0;
    std::size_t m_next = kNever;
    std::string m_file;
};
