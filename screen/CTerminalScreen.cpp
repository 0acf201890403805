#include "CTerminalScreen.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

namespace {

constexpr char kCR = 13;
constexpr int kClearScreen = 99;

// Space, tab, LF, VT, FF and CR: what message trimming and number reading skip.
bool IsBlank(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Leading white space, an optional sign, then digits up to the first non-digit; no digits
// give 0. The ranges read here are at most four bytes long, so the value cannot overflow.
int ReadNumber(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i]))
        ++i;
    int sign = 1;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        sign = text[i++] == '-' ? -1 : 1;
    int value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = value * 10 + (text[i] - '0');
    return sign * value;
}

// Finds `letter` among the first `limit` bytes of `range` before any NUL. `decided` is false
// when the answer could still change because fewer than `limit` bytes have arrived.
struct Search {
    std::size_t index;
    bool decided;
};

Search FindBeforeNul(std::string_view range, std::size_t limit, char letter) {
    const std::size_t n = std::min(range.size(), limit);
    for (std::size_t i = 0; i < n; ++i) {
        if (range[i] == letter)
            return {i, true};
        if (range[i] == '\0')
            return {std::string_view::npos, true};
    }
    return {std::string_view::npos, n == limit};
}

// Up to three decimal digits starting at `at`; returns how many there were.
std::size_t ReadDigits(std::string_view text, std::size_t at, int& value) {
    std::size_t n = 0;
    value = 0;
    for (; n < 3 && at + n < text.size() && text[at + n] >= '0' && text[at + n] <= '9'; ++n)
        value = value * 10 + (text[at + n] - '0');
    return n;
}

void LimitCapacity(std::string& buffer) {
    if (buffer.capacity() > CTerminalScreen::kKeptCapacity)
        buffer.shrink_to_fit();
}

std::string TrimmedMessage(std::string_view raw) {
    std::string text;
    text.reserve(raw.size());
    std::copy_if(raw.begin(), raw.end(), std::back_inserter(text), [](char c) { return c != 0; });
    const auto first = std::find_if_not(text.begin(), text.end(), IsBlank);
    const auto last = std::find_if_not(text.rbegin(), text.rend(), IsBlank).base();
    return first < last ? std::string(first, last) : std::string();
}

} // namespace

CTerminalScreen::CTerminalScreen() : m_screen(kRows) {
    Clear(kClearScreen);
}

void CTerminalScreen::Clear(int what) {
    if (what == kClearScreen) {
        for (std::string& row : m_screen)
            row.assign(kCols, ' ');
        m_changedRows = (std::uint64_t{1} << kRows) - 1;
        return;
    }
    MarkRowChanged();
    std::string& row = m_screen[m_row];
    const auto from = static_cast<std::size_t>(std::min(m_col, kCols));
    std::fill(row.begin() + static_cast<std::ptrdiff_t>(from), row.end(), ' ');
}

void CTerminalScreen::PutChar(char b) {
    // The wrap check normally keeps the cursor inside the row; a caller that skips it must
    // still never write outside the screen.
    if (m_col < kCols) {
        m_screen[m_row][m_col] = b;
        MarkRowChanged();
    }
    ++m_col;
}

void CTerminalScreen::WrapCursor() {
    const int width = m_wide ? kCols : kNarrowWidth;
    if (m_col >= width) {
        m_col = 0;
        ++m_row;
    }
    if (m_row >= kRows)
        m_row = 0;
}

// Stores bytes up to the wrap column in one copy: the same result as PutChar and WrapCursor
// byte by byte, since nothing but the wrap can happen between two ordinary bytes.
std::size_t CTerminalScreen::StoreRun(const char* bytes, std::size_t count) {
    const int width = m_wide ? kCols : kNarrowWidth;
    if (m_col >= width) {
        PutChar(bytes[0]);
        WrapCursor();
        return 1;
    }
    const std::size_t n = std::min(count, static_cast<std::size_t>(width - m_col));
    MarkRowChanged();
    char* const to = m_screen[m_row].data() + m_col;
    if (n <= 8) { // a field's few characters: cheaper than a library call
        for (std::size_t i = 0; i < n; ++i)
            to[i] = bytes[i];
    } else {
        std::memcpy(to, bytes, n);
    }
    m_col += static_cast<int>(n);
    WrapCursor();
    return n;
}

namespace {

// Index of the next ESC at or after `from`, or the length. Fields between addresses are a
// few bytes long, so the first bytes are tested eight at a time in a register before paying
// for a library call.
std::size_t NextEscape(std::string_view data, std::size_t from) {
    constexpr std::uint64_t kOnes = 0x0101010101010101u;
    constexpr std::uint64_t kEscs = kOnes * CTerminalScreen::kEsc;
    std::size_t i = from;
    if constexpr (std::endian::native == std::endian::little) {
        for (const std::size_t nearEnd = from + 32; i + 8 <= data.size() && i < nearEnd; i += 8) {
            std::uint64_t word;
            std::memcpy(&word, data.data() + i, 8);
            const std::uint64_t x = word ^ kEscs; // an ESC byte becomes zero
            if (const std::uint64_t zero = (x - kOnes) & ~x & (kOnes << 7))
                return i + static_cast<std::size_t>(std::countr_zero(zero) / 8);
        }
    }
    const void* esc = std::memchr(data.data() + i, CTerminalScreen::kEsc, data.size() - i);
    return esc ? static_cast<std::size_t>(static_cast<const char*>(esc) - data.data())
               : data.size();
}

} // namespace

std::size_t CTerminalScreen::ParseBuffer(std::string_view data) {
    const char* const begin = data.data();
    const std::size_t len = data.size();
    std::size_t pos = 0;
    while (pos < len) {
        const std::size_t runEnd = NextEscape(data, pos);
        while (pos < runEnd)
            pos += StoreRun(begin + pos, runEnd - pos);
        if (pos + 1 >= len)
            break; // all handled, or a lone ESC that waits for its next byte
        if (begin[pos + 1] == kEsc) {
            ++pos; // ESC ESC: the first one is dropped, the second starts a sequence
            continue;
        }
        // The binary address is the most frequent sequence on the line: no dispatch for it.
        const std::size_t after = begin[pos + 1] == '=' && len - pos >= 4
                                      ? (SetBinaryCursor(begin[pos + 2], begin[pos + 3]), 3)
                                      : ParseEscape(data, pos);
        if (after == 0)
            break;
        pos += after + 1;
        WrapCursor();
    }
    return pos;
}

std::size_t CTerminalScreen::ParseEscape(std::string_view data, std::size_t pos) {
    if (pos + 1 >= data.size() || data[pos] != kEsc)
        return 0;
    const std::size_t avail = data.size() - pos; // bytes present from the ESC on
    const auto needs = [avail](std::size_t n, std::size_t result) {
        return avail >= n ? result : 0;
    };
    const char second = data[pos + 1];
    switch (second) {
    case '+':
        Clear(kClearScreen);
        return 1;
    case '=':
        if (avail < 4)
            return 0;
        SetBinaryCursor(data[pos + 2], data[pos + 3]);
        return 3;
    case 'A':
        return needs(4, 3);
    case 'F':
    case 'f': {
        const std::size_t field = ParseMessageField(second, data, pos + 2);
        if (field != 0)
            return field + 1;
        // No CR within the longest message a line can send: drop ESC and the letter.
        return avail - 2 >= kMaxMessage ? 1 : 0;
    }
    case 'G':
    case '^':
    case 'w':
    case '~':
        return needs(3, 2);
    case 'N':
    case 'k':
    case 'n':
    case 'o':
    case 'v':
        return 1;
    case 'T':
        Clear(m_row);
        return 1;
    case '`':
        if (avail < 3)
            return 0;
        if (data[pos + 2] == ';')
            m_wide = 1;
        else if (data[pos + 2] == ':')
            m_wide = 0;
        return 2;
    case 'a':
        return ParseCursorAddress(data, pos);
    case 'c':
        return needs(5, 4);
    case 'e':
        if (avail < 3)
            return 0;
        if (data[pos + 2] == 'F' || data[pos + 2] == 'G')
            m_wide = 0;
        return 2;
    case kEsc:
        return 0; // not a sequence: ParseBuffer drops the first ESC
    default:
        return 1; // outside the command set: ESC and this byte are dropped
    }
}

std::size_t CTerminalScreen::ParseMessageField(char letter, std::string_view data,
                                               std::size_t start) {
    if (start > data.size())
        return 0;
    // A NUL does not end the message; only the first kMaxMessage bytes can hold its CR.
    const std::string_view body = data.substr(start, kMaxMessage);
    const std::size_t k = body.find(kCR);
    if (k == std::string_view::npos)
        return 0;
    if (k == 0)
        return 1; // ESC F CR keeps the previous text
    (letter == 'F' ? m_statusText : m_labelText) = TrimmedMessage(body.substr(0, k));
    return k + 1;
}

// ESC a row R column C. Handled only once the bytes present decide the outcome, so a drain
// boundary inside the sequence can never change what it does; it never waits for more than
// the 11 bytes from the ESC, which always decide it.
std::size_t CTerminalScreen::ParseCursorAddress(std::string_view data, std::size_t pos) {
    const std::string_view s = data.substr(pos + 2, 10);
    // The form the line nearly always sends, digits R digits C, decided in one pass; the
    // general rules below give the same result for it.
    int row = 0;
    int col = 0;
    const std::size_t r = ReadDigits(s, 0, row);
    if (r < s.size() && s[r] == 'R') {
        const std::size_t m = ReadDigits(s, r + 1, col);
        if (r + 1 + m < s.size() && s[r + 1 + m] == 'C') {
            SetDecimalCursor(row, col);
            return r + m + 3;
        }
    }
    return ParseIrregularAddress(s);
}

// ESC a in any other form: blanks, signs, a NUL, a missing R or C.
std::size_t CTerminalScreen::ParseIrregularAddress(std::string_view s) {
    // Completeness: a C among the 11 bytes from the ESC (s[0..8]), or all 11 present.
    if (FindBeforeNul(s, 9, 'C').index == std::string_view::npos && s.size() < 9)
        return 0;
    const Search r = FindBeforeNul(s, 4, 'R');
    if (!r.decided)
        return 0;
    if (r.index == std::string_view::npos)
        return 1; // no R within reach: only ESC a is consumed
    const std::string_view t = s.substr(r.index + 1, 4);
    const Search m = FindBeforeNul(t, 4, 'C');
    if (!m.decided)
        return 0;
    const int row = ReadNumber(s.substr(0, r.index));
    if (m.index == std::string_view::npos) {
        SetDecimalCursor(row, 0);
        return r.index + 2;
    }
    SetDecimalCursor(row, ReadNumber(t.substr(0, m.index)));
    return r.index + m.index + 3;
}

// The line's bytes are value + 32; bytes from 0x80 up count as negative. Row and column are
// each applied only when in range.
void CTerminalScreen::SetBinaryCursor(char rowByte, char colByte) {
    if (const int row = static_cast<signed char>(rowByte) - 32; row >= 0 && row < kRows)
        m_row = row;
    if (const int col = static_cast<signed char>(colByte) - 32; col >= 0 && col < kCols)
        m_col = col;
}

// 1-based values; each is applied only when in range.
void CTerminalScreen::SetDecimalCursor(int row, int col) {
    if (row >= 1 && row <= kRows)
        m_row = row - 1;
    if (col >= 1 && col <= kCols)
        m_col = col - 1;
}

void CTerminalScreen::ReceiveByte(char ch) {
    std::lock_guard lock(m_rxMutex);
    m_rxBuffer.push_back(ch);
}

void CTerminalScreen::ReceiveBytes(std::string_view bytes) {
    std::lock_guard lock(m_rxMutex);
    m_rxBuffer.append(bytes);
}

int CTerminalScreen::ProcessReceived() {
    {
        std::lock_guard lock(m_rxMutex);
        if (m_pending.empty()) {
            m_pending.swap(m_rxBuffer);
        } else {
            m_pending += m_rxBuffer;
            m_rxBuffer.clear();
        }
        LimitCapacity(m_rxBuffer);
    }
    if (m_pending.empty())
        return 0;
    m_pending.erase(0, ParseBuffer(m_pending));
    LimitCapacity(m_pending);
    return 1;
}

std::size_t CTerminalScreen::PendingSize() const {
    std::lock_guard lock(m_rxMutex);
    return m_pending.size() + m_rxBuffer.size();
}

std::string CTerminalScreen::PendingBytes() const {
    std::lock_guard lock(m_rxMutex);
    return m_pending + m_rxBuffer;
}

std::size_t CTerminalScreen::ReservedSize() const {
    std::lock_guard lock(m_rxMutex);
    return m_pending.capacity() + m_rxBuffer.capacity();
}
