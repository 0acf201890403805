#pragma once

#include "CTerminalScreen.h"

#include <ostream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

// A screen's whole state, pending bytes included, so two screens compare as a whole.
struct ScreenState {
    std::vector<std::string> rows;
    std::string status;
    std::string label;
    int row = 0;
    int col = 0;
    bool wide = false;
    std::string pending;

    bool operator==(const ScreenState&) const = default;
};

// The rows that hold anything, for a failure's message.
void PrintTo(const ScreenState& state, std::ostream* out);

ScreenState StateOf(const CTerminalScreen& s);
// The screen a journal file (ttyrec records) rebuilds on its own.
ScreenState ReplayAlone(const std::string& path);

inline void Receive(CTerminalScreen& s, std::string_view bytes) {
    for (char c : bytes)
        s.ReceiveByte(c);
}

// Receives `bytes` and drains once after each of the given offsets and at the end.
ScreenState FeedSplit(std::string_view bytes, const std::vector<std::size_t>& cuts);

// The state a fresh screen reaches on the bytes, drained once.
inline ScreenState FeedWhole(std::string_view bytes) {
    return FeedSplit(bytes, {});
}

inline std::string Esc(std::string_view rest) {
    return "\x1b" + std::string(rest);
}

// ESC = with the 0-based row and column encoded as the line sends them (value + 32).
inline std::string At(int row, int col) {
    return Esc("=") + static_cast<char>(row + 32) + static_cast<char>(col + 32);
}

// Every byte value once, 0 to 255 in order.
std::string AllByteValues();

// A stream built from the line's vocabulary with random arguments (addresses out of range
// among them), runs of text, and raw bytes of every value.
std::string RandomStream(std::mt19937& rng, std::size_t tokens);

// Readable rendering for failure messages.
std::string Printable(std::string_view bytes);
