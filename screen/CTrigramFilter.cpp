#include "CTrigramFilter.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

constexpr std::array<unsigned char, 256> MakeFoldTable() {
    std::array<unsigned char, 256> table{};
    for (int b = 0; b < 256; ++b) {
        int folded = b;
        if ((b >= 'A' && b <= 'Z') || (b >= 0xC0 && b <= 0xDE && b != 0xD7))
            folded = b + 0x20;
        else if (b == 0x8A || b == 0x8C || b == 0x8E)
            folded = b + 0x10; // Š Œ Ž
        else if (b == 0x9F)
            folded = 0xFF; // Ÿ
        table[b] = static_cast<unsigned char>(folded);
    }
    return table;
}

constexpr std::array<unsigned char, 256> kFold = MakeFoldTable();
constexpr int kBitsLog2 = 12;
static_assert(CTrigramFilter::kWords * 64 == 1u << kBitsLog2);
constexpr std::size_t kRun = 3;

} // namespace

unsigned char CTrigramFilter::Folded(char c) {
    return kFold[static_cast<unsigned char>(c)];
}

std::string CTrigramFilter::Fold(std::string_view text) {
    std::string folded(text.size(), ' ');
    std::transform(text.begin(), text.end(), folded.begin(),
                   [](char c) { return static_cast<char>(Folded(c)); });
    return folded;
}

std::size_t CTrigramFilter::BitOf(std::string_view row, std::size_t at) {
    const std::uint32_t key = std::uint32_t{Folded(row[at])} |
                              std::uint32_t{Folded(row[at + 1])} << 8 |
                              std::uint32_t{Folded(row[at + 2])} << 16;
    return (key * 0x9E3779B1u) >> (32 - kBitsLog2);
}

void CTrigramFilter::Add(std::string_view row) {
    for (std::size_t at = 0; at + kRun <= row.size(); ++at)
        Set(row, at);
}

void CTrigramFilter::AddChanged(std::string& shown, std::string_view now) {
    const std::size_t n = now.size();
    if (shown.size() != n || n < kRun) {
        shown.assign(now);
        Add(now);
        return;
    }
    std::size_t next = 0; // runs starting below this are added already
    const auto addChangedCells = [&](std::size_t from, std::size_t to) {
        for (std::size_t cell = from; cell < to; ++cell) {
            if (shown[cell] == now[cell])
                continue;
            const std::size_t first = std::max(next, cell >= kRun - 1 ? cell - (kRun - 1) : 0);
            const std::size_t last = std::min(cell + 1, n - kRun + 1);
            for (std::size_t start = first; start < last; ++start)
                Set(now, start);
            next = std::max(next, last);
        }
    };
    // Eight cells at a time, the differing words found first: most of a changed row is as it
    // was.
    constexpr std::size_t kWords = 16; // a fixed count, which the compiler unrolls
    const std::size_t words = n >= kWords * 8 ? kWords : 0;
    std::uint32_t differing = 0;
    for (std::size_t w = 0; w < kWords && words != 0; ++w) {
        std::uint64_t was;
        std::uint64_t is;
        std::memcpy(&was, shown.data() + w * 8, 8);
        std::memcpy(&is, now.data() + w * 8, 8);
        differing |= static_cast<std::uint32_t>(was != is) << w;
    }
    for (; differing != 0; differing &= differing - 1) {
        const std::size_t at = static_cast<std::size_t>(std::countr_zero(differing)) * 8;
        addChangedCells(at, at + 8);
        std::memcpy(shown.data() + at, now.data() + at, 8);
    }
    addChangedCells(words * 8, n);
    std::copy(now.begin() + static_cast<std::ptrdiff_t>(words * 8), now.end(),
              shown.begin() + static_cast<std::ptrdiff_t>(words * 8));
}

bool CTrigramFilter::MayHold(std::string_view folded) const {
    for (std::size_t at = 0; at + kRun <= folded.size(); ++at) {
        const std::size_t bit = BitOf(folded, at);
        if ((m_bits[bit / 64] >> (bit % 64) & 1) == 0)
            return false;
    }
    return true;
}
