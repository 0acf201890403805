#include "CDisplayChars.h"

#include <array>

namespace {

// Control bytes 0x00-0x1F. Mostly the IBM PC pictures; the few that would look like a
// Windows-1252 character (0x07, 0x14, 0x15) use another glyph so no two bytes look alike.
// All are in Liberation Mono, which stands in for "Courier New", so no fallback font with
// another advance width can break the column alignment.
constexpr std::array<char16_t, 32> kControlGlyphs = {
    u'\u25E6', u'\u263A', u'\u263B', u'\u2665', u'\u2666', u'\u2663', u'\u2660', u'\u25CF',
    u'\u25D8', u'\u25CB', u'\u25D9', u'\u2642', u'\u2640', u'\u266A', u'\u266B', u'\u263C',
    u'\u25BA', u'\u25C4', u'\u2195', u'\u203C', u'\u25AA', u'\u25AB', u'\u25AC', u'\u21A8',
    u'\u2191', u'\u2193', u'\u2192', u'\u2190', u'\u221F', u'\u2194', u'\u25B2', u'\u25BC',
};

constexpr char16_t kDelete = u'\u2302';    // 0x7F
constexpr char16_t kUndefined = u'\u25A1'; // the five byte values Windows-1252 leaves out

// Windows-1252 0x80-0x9F; the rest of 0xA0-0xFF is Latin-1.
constexpr std::array<char16_t, 32> kWindows1252High = {
    u'\u20AC',  kUndefined, u'\u201A', u'\u0192', u'\u201E', u'\u2026',  u'\u2020', u'\u2021',
    u'\u02C6',  u'\u2030',  u'\u0160', u'\u2039', u'\u0152', kUndefined, u'\u017D', kUndefined,
    kUndefined, u'\u2018',  u'\u2019', u'\u201C', u'\u201D', u'\u2022',  u'\u2013', u'\u2014',
    u'\u02DC',  u'\u2122',  u'\u0161', u'\u203A', u'\u0153', kUndefined, u'\u017E', u'\u0178',
};

constexpr std::array<char16_t, 256> MakeTable() {
    std::array<char16_t, 256> table{};
    for (int b = 0; b < 256; ++b)
        table[b] = static_cast<char16_t>(b);
    for (int b = 0; b < 32; ++b) {
        table[b] = kControlGlyphs[b];
        table[0x80 + b] = kWindows1252High[b];
    }
    table[0x7F] = kDelete;
    return table;
}

constexpr std::array<char16_t, 256> kTable = MakeTable();

} // namespace

char16_t CDisplayChars::Of(unsigned char byte) {
    return kTable[byte];
}

std::u16string CDisplayChars::Text(std::string_view bytes) {
    std::u16string text(bytes.size(), u'\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        text[i] = kTable[static_cast<unsigned char>(bytes[i])];
    return text;
}
