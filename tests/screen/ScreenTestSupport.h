#pragma once

#include "CTerminalScreen.h"

#include <string>
#include <string_view>
#include <vector>

// Everything a drain can change, so two screens can be compared as a whole.
struct ScreenState {
    std::vector<std::string> rows;
    std::string status;
    std::string label;
    int row = 0;
    int col = 0;
    bool wide = false;
    std::size_t pending = 0;

    bool operator==(const ScreenState&) const = default;
};

inline ScreenState StateOf(const CTerminalScreen& s) {
    return {s.Rows(), s.StatusText(), s.LabelText(), s.Row(), s.Col(), s.Wide(), s.PendingSize()};
}

inline void Receive(CTerminalScreen& s, std::string_view bytes) {
    for (char c : bytes)
        s.ReceiveByte(c);
}

// Receives `bytes` and drains once after each of the given offsets and at the end.
inline ScreenState FeedSplit(std::string_view bytes, const std::vector<std::size_t>& cuts) {
    CTerminalScreen s;
    std::size_t from = 0;
    for (std::size_t cut : cuts) {
        Receive(s, bytes.substr(from, cut - from));
        s.ProcessReceived();
        from = cut;
    }
    Receive(s, bytes.substr(from));
    s.ProcessReceived();
    return StateOf(s);
}

inline ScreenState FeedWhole(std::string_view bytes) {
    return FeedSplit(bytes, {});
}

inline std::string Esc(std::string_view rest) {
    return "\x1b" + std::string(rest);
}

// ESC = with the row and column encoded as the line sends them (value + 32).
inline std::string At(int row, int col) {
    return Esc("=") + static_cast<char>(row + 32) + static_cast<char>(col + 32);
}

// Readable rendering for failure messages.
inline std::string Printable(std::string_view bytes) {
    static const char* hex = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7f) {
            out += static_cast<char>(c);
        } else {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}
