#pragma once

#include "CIndexedRecord.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <vector>

// The records of the file the journal is writing, handed as it writes them from the journal's
// thread, whose screen has interpreted them already, to History's index on the window's thread,
// which then need not read the file back and interpret it again. The journal feeds only while
// History wants it (while History is open) and from a point at which the file on disk holds
// every byte before: the index reads up to there and takes the rest from here.
class CJournalLiveFeed {
public:
    // Records fed and not taken beyond which the journal stops feeding (History not taking
    // them): History then reads the file again.
    static constexpr std::size_t kMaxWaiting = 64 * 1024;

    struct Taken {
        std::filesystem::path m_file;          // empty while the journal feeds none
        std::uint64_t m_from = 0;              // where it began feeding that file
        std::vector<CIndexedRecord> m_records; // since the last take, from m_from on
        // After the last of them, when there are any: the live moment needs no replay.
        std::unique_ptr<CTerminalScreen> m_screen;
    };

    // The one feed of the journal writing into `folder`, shared by the journal and History.
    static std::shared_ptr<CJournalLiveFeed> Of(const std::filesystem::path& folder);

    // History's side. While wanted, the journal begins feeding the file it writes at its next
    // take; unwanted, it stops and what waits is dropped.
    void Want(bool wanted);
    Taken Take();
    // History could not follow on with what was fed: the journal begins again.
    void Restart();

    // Journal's side. A number for the feeding begun at `from` in `file` when History wants one
    // and none runs; 0 otherwise.
    std::uint64_t Begin(const std::filesystem::path& file, std::uint64_t from);
    bool Feeding(std::uint64_t feeding) const;
    // Records written, and the screen after them.
    void Add(std::uint64_t feeding, std::vector<CIndexedRecord> records,
             const CTerminalScreen& after);
    // The file ended.
    void End(std::uint64_t feeding);

private:
    void Stop(); // with the lock held

    mutable std::mutex m_mutex;
    bool m_wanted = false;
    std::uint64_t m_feeding = 0; // 0: none
    std::uint64_t m_begun = 0;
    std::filesystem::path m_file;
    std::uint64_t m_from = 0;
    std::vector<CIndexedRecord> m_records;
    std::unique_ptr<CTerminalScreen> m_screen;
};
