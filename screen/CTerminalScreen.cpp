#include "CTerminalScreen.h"

#include <algorithm>
#include <atomic>
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

std::atomic<std::uint64_t> g_interpretedBytes{0};

void CountInterpreted(std::size_t bytes) {
    g_interpretedBytes.fetch_add(bytes, std::memory_order_relaxed);
}

} // namespace

CTerminalScreen::CTerminalScreen() : m_screen(kRows) {
    Clear(kClearScreen);
}

CTerminalScreen::CTerminalScreen(const CTerminalScreen& other) {
    const std::lock_guard lock(other.m_rxMutex);
    CopyFrom(other);
}

CTerminalScreen& CTerminalScreen::operator=(const CTerminalScreen& other) {
    if (this != &other) {
        const std::scoped_lock lock(m_rxMutex, other.m_rxMutex);
        CopyFrom(other);
    }
    return *this;
}

void CTerminalScreen::CopyFrom(const CTerminalScreen& other) {
    Interpreted(*this) = Interpreted(other);
    m_changedRows = other.m_changedRows;
    m_rxBuffer = other.m_rxBuffer;
    m_pending = other.m_pending;
}

bool CTerminalScreen::operator==(const CTerminalScreen& other) const {
    return Interpreted(*this) == Interpreted(other) && PendingBytes() == other.PendingBytes();
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

namespace {

// Non-zero when `word` holds an ESC byte; its lowest set bit lies in the first one.
std::uint64_t EscBytes(std::uint64_t word) {
    constexpr std::uint64_t kOnes = 0x0101010101010101u;
    const std::uint64_t x = word ^ (kOnes * CTerminalScreen::kEsc); // an ESC byte becomes zero
    return (x - kOnes) & ~x & (kOnes << 7);
}

// Index of the next ESC at or after `from`, or the length. Text runs are short, so the first
// bytes are tested eight at a time in a register before paying for a library call.
std::size_t NextEscape(std::string_view data, std::size_t from) {
    std::size_t i = from;
    if constexpr (std::endian::native == std::endian::little) {
        for (const std::size_t nearEnd = from + 32; i + 8 <= data.size() && i < nearEnd; i += 8) {
            std::uint64_t word;
            std::memcpy(&word, data.data() + i, 8);
            if (const std::uint64_t escs = EscBytes(word))
                return i + static_cast<std::size_t>(std::countr_zero(escs) / 8);
        }
    }
    const void* esc = std::memchr(data.data() + i, CTerminalScreen::kEsc, data.size() - i);
    return esc ? static_cast<std::size_t>(static_cast<const char*>(esc) - data.data())
               : data.size();
}

// The screen state ParseBuffer changes on its fast paths, held in locals for the pass: a row
// byte stored through a char pointer may alias any member, so members would be read again
// after every store. Synced with the members around anything else.
struct CPass {
    std::string* rows;
    int row;
    int col;
    int width;
    std::uint64_t changed = 0;

    void Wrap() {
        if (col >= width) {
            col = 0;
            if (++row >= CTerminalScreen::kRows)
                row = 0;
        }
    }
    void Mark() { changed |= std::uint64_t{1} << row; }

    // Stores the text from `pos` (not an ESC) up to the next ESC or the end; returns where it
    // stopped. Nothing but the wrap happens between two ordinary bytes, so a run is copied up
    // to the wrap column at once.
    std::size_t StoreText(std::string_view data, std::size_t pos) {
        if (const std::size_t n = StoreField(data, pos))
            return pos + n;
        const std::size_t end = NextEscape(data, pos);
        while (pos < end) {
            if (col >= width) { // a caller's PutChar without the wrap check
                if (col < CTerminalScreen::kCols) {
                    rows[row][static_cast<std::size_t>(col)] = data[pos];
                    Mark();
                }
                ++col;
                ++pos;
            } else {
                const std::size_t n = std::min(end - pos, static_cast<std::size_t>(width - col));
                std::memcpy(rows[row].data() + col, data.data() + pos, n);
                Mark();
                col += static_cast<int>(n);
                pos += n;
            }
            Wrap();
        }
        return pos;
    }

    // A field's value between two addresses is a few bytes long: when the next ESC lies within
    // the next eight bytes and the text before it fits the row, it is merged into the row in
    // one eight-byte write. Returns the bytes stored, 0 when this does not apply.
    std::size_t StoreField(std::string_view data, std::size_t pos) {
        if constexpr (std::endian::native != std::endian::little)
            return 0;
        if (pos + 8 > data.size() || col + 8 > CTerminalScreen::kCols)
            return 0;
        std::uint64_t word;
        std::memcpy(&word, data.data() + pos, 8);
        const std::uint64_t escs = EscBytes(word);
        const int n = std::countr_zero(escs) / 8; // 1 to 7 when found: data[pos] is no ESC
        if (escs == 0 || col + n > width)
            return 0;
        char* const to = rows[row].data() + col;
        std::uint64_t old;
        std::memcpy(&old, to, 8);
        const std::uint64_t keep = ~std::uint64_t{0} << (8 * n);
        const std::uint64_t merged = (word & ~keep) | (old & keep);
        std::memcpy(to, &merged, 8);
        Mark();
        col += n;
        Wrap();
        return static_cast<std::size_t>(n);
    }
};

// The line's bytes are value + 32; bytes from 0x80 up count as negative. Row and column are
// each applied only when in range.
void ApplyBinaryAddress(int& row, int& col, char rowByte, char colByte) {
    if (const int r = static_cast<signed char>(rowByte) - 32; r >= 0 && r < CTerminalScreen::kRows)
        row = r;
    if (const int c = static_cast<signed char>(colByte) - 32; c >= 0 && c < CTerminalScreen::kCols)
        col = c;
}

// 1-based values; each is applied only when in range.
void ApplyDecimalAddress(int& row, int& col, int r, int c) {
    if (r >= 1 && r <= CTerminalScreen::kRows)
        row = r - 1;
    if (c >= 1 && c <= CTerminalScreen::kCols)
        col = c - 1;
}

// ESC a in the form the line nearly always sends, up to three digits R up to three digits C,
// given `s`, the bytes after ESC a. Returns the bytes the sequence has after its ESC, or 0 when
// `s` holds another form or too few bytes to tell at once (eight: the longest such form). The
// digit counts of a screen's fields follow its layout, so these branches predict well.
std::size_t ReadRegularAddress(std::string_view s, int& row, int& col) {
    if (s.size() < 8)
        return 0;
    const auto* const b = reinterpret_cast<const unsigned char*>(s.data());
    const auto digit = [b](unsigned at) { return b[at] - unsigned{'0'}; };
    unsigned r = 0;
    row = 0;
    for (; r < 3 && digit(r) < 10; ++r)
        row = row * 10 + static_cast<int>(digit(r));
    if (b[r] != 'R')
        return 0;
    unsigned c = r + 1;
    col = 0;
    for (; c < r + 4 && digit(c) < 10; ++c)
        col = col * 10 + static_cast<int>(digit(c));
    return b[c] == 'C' ? c + 2 : 0;
}

} // namespace

std::size_t CTerminalScreen::ParseBuffer(std::string_view data) {
    const char* const begin = data.data();
    const std::size_t len = data.size();
    CPass pass{m_screen.data(), m_row, m_col, m_wide ? kCols : kNarrowWidth};
    std::size_t pos = 0;
    while (pos < len) {
        if (begin[pos] != kEsc) {
            pos = pass.StoreText(data, pos);
            continue;
        }
        if (pos + 1 >= len)
            break; // a lone ESC waits for its next byte
        // The two addresses are nearly all the line sends between fields: no dispatch for them.
        const char second = begin[pos + 1];
        std::size_t after = 0;
        int row = 0;
        int col = 0;
        if (second == '=' && len - pos >= 4) {
            ApplyBinaryAddress(pass.row, pass.col, begin[pos + 2], begin[pos + 3]);
            after = 3;
        } else if (second == 'a' &&
                   (after = ReadRegularAddress(data.substr(pos + 2, 10), row, col)) != 0) {
            ApplyDecimalAddress(pass.row, pass.col, row, col);
        } else if (second == kEsc) {
            ++pos; // ESC ESC: the first one is dropped, the second starts a sequence
            continue;
        } else {
            m_row = pass.row;
            m_col = pass.col;
            after = ParseEscape(data, pos);
            pass.row = m_row;
            pass.col = m_col;
            pass.width = m_wide ? kCols : kNarrowWidth;
        }
        if (after == 0)
            break;
        pos += after + 1;
        pass.Wrap();
    }
    m_row = pass.row;
    m_col = pass.col;
    m_changedRows |= pass.changed;
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
    int row = 0;
    int col = 0;
    if (const std::size_t after = ReadRegularAddress(s, row, col)) {
        SetDecimalCursor(row, col);
        return after;
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

void CTerminalScreen::SetBinaryCursor(char rowByte, char colByte) {
    ApplyBinaryAddress(m_row, m_col, rowByte, colByte);
}

void CTerminalScreen::SetDecimalCursor(int row, int col) {
    ApplyDecimalAddress(m_row, m_col, row, col);
}

void CTerminalScreen::ReceiveByte(char ch) {
    std::lock_guard lock(m_rxMutex);
    m_rxBuffer.push_back(ch);
    CueArrival();
}

void CTerminalScreen::ReceiveBytes(std::string_view bytes) {
    std::lock_guard lock(m_rxMutex);
    m_rxBuffer.append(bytes);
    CueArrival();
}

void CTerminalScreen::CueArrival() {
    if (m_arrivalArmed && m_arrival) {
        m_arrivalArmed = false;
        m_arrival();
    }
}

void CTerminalScreen::SetArrival(std::function<void()> arrival) {
    std::lock_guard lock(m_rxMutex);
    m_arrival = std::move(arrival);
    m_arrivalArmed = true;
}

bool CTerminalScreen::ArmArrival(bool always) {
    std::lock_guard lock(m_rxMutex);
    const bool waiting = !m_rxBuffer.empty();
    m_arrivalArmed = m_arrivalArmed || always || !waiting;
    return waiting;
}

int CTerminalScreen::ProcessReceived() {
    {
        std::lock_guard lock(m_rxMutex);
        CountInterpreted(m_rxBuffer.size());
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

void CTerminalScreen::Interpret(std::string_view bytes) {
    CountInterpreted(bytes.size());
    if (m_pending.empty()) {
        m_pending.assign(bytes.substr(ParseBuffer(bytes)));
    } else {
        m_pending += bytes;
        m_pending.erase(0, ParseBuffer(m_pending));
    }
}

std::uint64_t CTerminalScreen::InterpretedBytes() {
    return g_interpretedBytes.load(std::memory_order_relaxed);
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
