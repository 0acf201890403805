#include "CTtyrecReader.h"

#include <algorithm>
#include <array>

namespace {

constexpr std::size_t kReadPiece = 64 * 1024;

} // namespace

CTtyrecReader::CTtyrecReader(std::istream& in, std::uint64_t offset) : m_in(in), m_offset(offset) {}

void CTtyrecReader::Seek(std::uint64_t offset) {
    m_in.clear();
    m_in.seekg(static_cast<std::streamoff>(offset));
    m_offset = offset;
    m_note.clear();
}

bool CTtyrecReader::Next(CTtyrecRecord& record, bool withData) {
    if (!m_note.empty())
        return false;
    std::array<char, CTtyrecRecord::kHeaderSize> header{};
    m_in.read(header.data(), header.size());
    const auto got = static_cast<std::size_t>(m_in.gcount());
    if (got == 0)
        return false; // a clean end
    if (got < header.size())
        return Torn("a partial header");
    if (!record.DecodeHeader(header.data()) || record.m_length > kMaxLength)
        return Torn("an impossible header");
    const std::uint32_t length = record.m_length;
    record.m_offset = m_offset;
    record.m_data.clear();
    if (withData) {
        // In pieces, so a torn or foreign header's length is never taken in memory at once
        // for bytes that are not there.
        while (record.m_data.size() < length) {
            const std::size_t at = record.m_data.size();
            const std::size_t piece = std::min<std::size_t>(length - at, kReadPiece);
            record.m_data.resize(at + piece);
            m_in.read(record.m_data.data() + at, static_cast<std::streamsize>(piece));
            if (static_cast<std::size_t>(m_in.gcount()) < piece)
                return Torn("a record shorter than its header says");
        }
    } else {
        // Seeking past the end succeeds silently: test that the last byte is there.
        if (length > 0) {
            m_in.seekg(static_cast<std::streamoff>(length) - 1, std::ios::cur);
            if (m_in.get() == std::char_traits<char>::eof())
                return Torn("a record shorter than its header says");
        }
    }
    m_offset = record.End();
    return true;
}

bool CTtyrecReader::Torn(const std::string& what) {
    m_note =
        "torn record at byte " + std::to_string(m_offset) + " (" + what + "): the file ends there";
    return false;
}
