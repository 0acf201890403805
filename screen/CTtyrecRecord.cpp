#include "CTtyrecRecord.h"

namespace {

void AppendLittleEndian(std::string& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8)
        out += static_cast<char>((value >> shift) & 0xFF);
}

} // namespace

void CTtyrecRecord::Encode(Time time, std::string_view bytes, std::string& out) {
    const auto micros = time.time_since_epoch().count();
    AppendLittleEndian(out, static_cast<std::uint32_t>(micros / 1000000));
    AppendLittleEndian(out, static_cast<std::uint32_t>(micros % 1000000));
    AppendLittleEndian(out, static_cast<std::uint32_t>(bytes.size()));
    out.append(bytes);
}
