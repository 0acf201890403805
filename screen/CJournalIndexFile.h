#pragma once

#include "CTerminalScreen.h"
#include "CTrigramFilter.h"
#include "CTtyrecRecord.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// What History knows of one journal file, kept beside it as NAME.ttyrec.index so that a file
// no longer written is not read again at every start. It is never trusted blindly: it names
// the journal file's size and time and hashes of its first and last bytes, and ends in a hash
// of its own bytes, so an index of a file since edited, cut or replaced, and an index left
// half-written, are all rejected and the file is read again.
//
// Layout, all numbers unsigned 64-bit little-endian, times in microseconds since 1970:
//   "TVINDEX3"                        the format
//   size, time, head hash, tail hash  of the journal file (time: its last write, as the
//                                     file system keeps it)
//   records, last record time, note   the note as length and bytes (a torn end)
//   block count, then per block:      a run of records with a screen checkpoint
//     offset, first record, records, line bytes, first time, checkpoint (length and bytes),
//     the trigram filter's bits (CTrigramFilter::kWords numbers), the changed cells (one
//     number a row)
//   moment count, then each moment's record (counted from the file's first record)
//   hash of everything before it
class CJournalIndexFile {
public:
    using Time = CTtyrecRecord::Time;
    static constexpr int kColumnsPerBit = 3; // 132 columns in 44 bits

    // A run of records of a journal file and the screen before the first of them, written in
    // the line's own commands (empty for a fresh screen).
    struct Block {
        std::uint64_t m_offset = 0;
        std::uint64_t m_firstRecord = 0; // counted from the file's first record
        std::uint64_t m_records = 0;
        std::uint64_t m_bytes = 0;
        Time m_firstTime{};
        std::string m_checkpoint;
        CTrigramFilter m_filter; // of what the rows showed from the checkpoint on
        // Which cells the records changed, a number a row, bit N for the columns
        // N*kColumnsPerBit.. (0-based): a reader of cells none of them changed need not replay
        // the block.
        std::array<std::uint64_t, CTerminalScreen::kRows> m_changed{};
    };
    struct Contents {
        std::uint64_t m_size = 0; // the bytes of the journal file the index covers
        std::uint64_t m_records = 0;
        Time m_lastTime{};
        std::string m_note;
        std::vector<Block> m_blocks;
        // The records a person saw settle (CJournalIndex's moments), counted from the file's
        // first record, ascending.
        std::vector<std::uint64_t> m_moments;
    };

    // Added to the journal file's name.
    static constexpr std::string_view kSuffix = ".index";

    static std::filesystem::path PathOf(const std::filesystem::path& journal);
    // Writes the index for `journal` when the file is exactly `contents.m_size` bytes long (a
    // file still growing is left for later); through a temporary file, so a reader finds the
    // old index, the new one or none. False when nothing was written.
    static bool Save(const std::filesystem::path& journal, const Contents& contents);
    // The index of `journal`, when there is one and it matches the file as it is now.
    static std::optional<Contents> Load(const std::filesystem::path& journal);

private:
    struct Stamp;
    static std::optional<Stamp> StampOf(const std::filesystem::path& journal, std::uint64_t size);
};
