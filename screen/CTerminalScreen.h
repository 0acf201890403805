#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

// The emulated 42 x 132 press-table screen: the screen buffer, the interpreter of the
// control sequences in the received byte stream, and the receive queue that carries an
// incomplete sequence over to the next drain. Standard library only, so it builds, tests and
// benchmarks without Qt.
class CTerminalScreen {
public:
    static constexpr int kRows = 42;
    static constexpr int kCols = 132;
    static constexpr int kNarrowWidth = 80;
    static constexpr char kEsc = 27;
    // Bytes after ESC F / ESC f without a CR after which the message counts as malformed.
    static constexpr std::size_t kMaxMessage = 65536;
    // Storage the receive queue keeps after a drain; a burst's larger buffers are given back,
    // so that one flood does not hold memory for the rest of the game.
    static constexpr std::size_t kKeptCapacity = 64 * 1024;

    CTerminalScreen();
    virtual ~CTerminalScreen() = default;
    // Everything the screen holds, the bytes not yet interpreted included, but not the lock
    // that hands bytes over between threads: a copy has its own. Safe while the other screen
    // receives bytes, not while it drains.
    CTerminalScreen(const CTerminalScreen& other);
    CTerminalScreen& operator=(const CTerminalScreen& other);
    // Equal when they show the same and will show the same after the same further bytes: rows,
    // messages, cursor, width and PendingBytes(). Which rows were marked changed does not count.
    bool operator==(const CTerminalScreen& other) const;

    // Screen buffer.
    void Clear(int what); // 99: whole screen; anything else: cursor row from the cursor on
    void PutChar(char b);
    void WrapCursor();

    // Interpreter. Each returns how many bytes it handled; 0 means "wait for more bytes".
    std::size_t ParseBuffer(std::string_view data);
    std::size_t ParseEscape(std::string_view data, std::size_t pos);
    std::size_t ParseMessageField(char letter, std::string_view data, std::size_t start);

    // Receive queue. ReceiveByte may run on a reader thread while ProcessReceived runs on
    // the window's thread.
    void ReceiveByte(char ch);
    // The same for a run of bytes, under one lock.
    void ReceiveBytes(std::string_view bytes);
    int ProcessReceived();
    // Runs on the receiving thread, under the hand-over lock, at the first byte received after
    // the cue was armed: the cue for whoever drains the screen. It must only pass the cue on.
    // Empty: no cue. A copy of the screen has none.
    void SetArrival(std::function<void()> arrival);
    // Arms the cue, unless bytes already wait in the receive queue (they gave none, so a line
    // that keeps coming is drained on a clock without a cue for every chunk): true then, for the
    // caller to drain them. `always` arms it even then.
    bool ArmArrival(bool always = false);
    // Interprets `bytes` at once, after the incomplete sequence carried over so far, and
    // carries over what they leave incomplete: a drain without the hand-over, for a screen
    // that one thread alone feeds (a journal file read back).
    void Interpret(std::string_view bytes);
    // Bytes that entered the interpreter of any screen of the process so far, once for each
    // screen they entered: how often the line is interpreted, for the benchmarks.
    static std::uint64_t InterpretedBytes();

    const std::vector<std::string>& Rows() const { return m_screen; }
    const std::string& StatusText() const { return m_statusText; }
    const std::string& LabelText() const { return m_labelText; }
    int Row() const { return m_row; }
    int Col() const { return m_col; }
    bool Wide() const { return m_wide != 0; }
    // Bytes received but not yet interpreted: the pending remainder plus the receive buffer.
    std::size_t PendingSize() const;
    // Those bytes themselves, in arrival order.
    std::string PendingBytes() const;
    // Storage the receive queue holds (capacity of its buffers), whether in use or not.
    std::size_t ReservedSize() const;
    // The rows written or cleared since the last call, bit r for row r: a search for text on
    // the screen after every chunk then looks at those rows only.
    std::uint64_t TakeChangedRows() { return std::exchange(m_changedRows, 0); }

private:
    // The interpreter's state, the receive queue left out; `Screen` const or not.
    template <class Screen> static auto Interpreted(Screen& s) {
        return std::tie(s.m_screen, s.m_statusText, s.m_labelText, s.m_row, s.m_col, s.m_wide);
    }
    // With the other's lock held (and this one's, when this one may be receiving).
    void CopyFrom(const CTerminalScreen& other);

    std::size_t ParseCursorAddress(std::string_view data, std::size_t pos);
    std::size_t ParseIrregularAddress(std::string_view s);
    void SetBinaryCursor(char rowByte, char colByte);
    void SetDecimalCursor(int row, int col);
    void MarkRowChanged() { m_changedRows |= std::uint64_t{1} << m_row; }
    // With the hand-over lock held, after bytes were queued.
    void CueArrival();

    std::vector<std::string> m_screen;
    std::string m_statusText;
    std::string m_labelText;
    int m_row = 0;
    int m_col = 0;
    int m_wide = 0;
    std::uint64_t m_changedRows = 0;
    std::string m_rxBuffer;

    mutable std::mutex m_rxMutex;
    // Bytes taken from m_rxBuffer but not yet handled: empty, or an incomplete sequence
    // starting with ESC. One per screen, so independent screens never share state.
    std::string m_pending;
    std::function<void()> m_arrival;
    bool m_arrivalArmed = true;
};
