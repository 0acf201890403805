#include "CTtyrecRecord.h"

namespace {

void AppendLittleEndian(std::string& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8)
        out += static_cast<char>((value >> shift) & 0xFF);
}

std::uint32_t LittleEndian(const char* bytes) {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes);
    return static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
           static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
}

} // namespace

bool CTtyrecRecord::DecodeHeader(const char* header) {
    const std::uint32_t micros = LittleEndian(header + 4);
    if (micros >= 1000000)
        return false;
    m_time = Time(std::chrono::seconds(LittleEndian(header)) + std::chrono::microseconds(micros));
    m_length = LittleEndian(header + 8);
    return true;
}

void CTtyrecRecord::Encode(Time time, std::string_view bytes, std::string& out) {
    const auto micros = time.time_since_epoch().count();
    AppendLittleEndian(out, static_cast<std::uint32_t>(micros / 1000000));
    AppendLittleEndian(out, static_cast<std::uint32_t>(micros % 1000000));
    AppendLittleEndian(out, static_cast<std::uint32_t>(bytes.size()));
    out.append(bytes);
}
