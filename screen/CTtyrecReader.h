#pragma once

#include "CTtyrecRecord.h"

#include <istream>
#include <string>

// Reads ttyrec records one after the other from a stream (a file opened in binary mode, or
// standard input), with the offset of each, so a caller can index a file and come back to
// any record with Seek.
//
// A file whose writer was killed mid-write ends in a torn record: a partial header, fewer
// bytes than its header promises, or a length no journal writes. Next then returns false and
// Note() says what was found and where; every record before it has been returned as usual.
// Note() is empty at a clean end. A journal that is still being written may grow past a torn
// end: Seek to the offset of the record that was torn and read on.
class CTtyrecReader {
public:
    // Longer records than this are not something a journal writes: a torn or foreign file.
    static constexpr std::uint32_t kMaxLength = 16 * 1024 * 1024;

    // Reads from `in`, which is at offset `offset` of its file (0: the start).
    explicit CTtyrecReader(std::istream& in, std::uint64_t offset = 0);

    // The next record; false at the end of the stream or at a torn record (see Note). With
    // `withData` false the bytes are skipped (seeked over) and only the header is filled in,
    // which indexes a large file quickly.
    bool Next(CTtyrecRecord& record, bool withData = true);
    // Continues at `offset`, the start of a record, and forgets an earlier note.
    void Seek(std::uint64_t offset);

    std::uint64_t Offset() const { return m_offset; }
    const std::string& Note() const { return m_note; }

private:
    bool Torn(const std::string& what);

    std::istream& m_in;
    std::uint64_t m_offset;
    std::string m_note;
};
