#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

// One record of a ttyrec file, the recording format of terminal sessions that Debian's ttyrec
// tools (ttyplay, ttytime) read: a 12-byte header of three unsigned 32-bit little-endian
// numbers, seconds and microseconds of the Unix time the bytes arrived and their count, then
// the bytes themselves.
//
// In a Tallyview journal the first record of every file is the screen as it stood when the
// file was begun, written as commands (CScreenCommands); every later record is one chunk read
// from the line, exactly as it came.
class CTtyrecRecord {
public:
    static constexpr std::size_t kHeaderSize = 12;

    using Time = std::chrono::sys_time<std::chrono::microseconds>;

    Time m_time{};
    std::uint64_t m_offset = 0; // where the header starts in its file
    std::string m_data;         // empty when the reader was told to skip the bytes
    std::uint32_t m_length = 0; // byte count from the header, also when m_data was skipped

    // Takes m_time and m_length from a header of kHeaderSize bytes; false when its time is
    // impossible (a microsecond count of a second or more).
    bool DecodeHeader(const char* header);
    // Appends the encoded record (header and bytes) to `out`.
    static void Encode(Time time, std::string_view bytes, std::string& out);
    // The offset of the record that follows this one.
    std::uint64_t End() const { return m_offset + kHeaderSize + m_length; }
};
