#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Which runs of three letters, case folded, a run of records ever showed on a row, kept as a
// small hashed bitmap: a text with a run the bitmap lacks cannot have been on a row, so a find
// need not replay those records. It never says no for a text that was there (it may say yes
// for one that was not). Rows are taken whole when the run starts and, after each record, only
// around the cells the record changed: any run of three on a row then was either there before
// or holds a changed cell.
class CTrigramFilter {
public:
    static constexpr std::size_t kWords = 64; // 4096 bits
    using Words = std::array<std::uint64_t, kWords>;

    // Case folding as find compares text: ASCII and the Windows-1252 letters above it.
    static unsigned char Folded(char c);
    static std::string Fold(std::string_view text);

    void Add(std::string_view row);
    // Adds what a row shows `now` that it did not when it was `shown`, and makes `shown` now.
    void AddChanged(std::string& shown, std::string_view now);
    // Whether `folded` (as Fold gives it) may have been on a row; always for under three letters.
    bool MayHold(std::string_view folded) const;

    Words& Bits() { return m_bits; }
    const Words& Bits() const { return m_bits; }

private:
    static std::size_t BitOf(std::string_view row, std::size_t at);
    void Set(std::string_view row, std::size_t at) {
        const std::size_t bit = BitOf(row, at);
        m_bits[bit / 64] |= std::uint64_t{1} << (bit % 64);
    }

    Words m_bits{};
};
