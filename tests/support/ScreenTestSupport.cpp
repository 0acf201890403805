#include "ScreenTestSupport.h"

#include "CTtyrecPlayer.h"

#include <fstream>

void PrintTo(const ScreenState& state, std::ostream* out) {
    for (const std::string& row : state.rows)
        if (row.find_first_not_of(std::string(" \0", 2)) != std::string::npos)
            *out << "\n|" << Printable(row) << '|';
    *out << "\nstatus \"" << Printable(state.status) << "\", label \"" << Printable(state.label)
         << "\", cursor " << state.row << ',' << state.col << (state.wide ? " wide" : "")
         << ", pending \"" << Printable(state.pending) << '"';
}

ScreenState StateOf(const CTerminalScreen& s) {
    return {s.Rows(), s.StatusText(), s.LabelText(), s.Row(), s.Col(), s.Wide(), s.PendingBytes()};
}

ScreenState ReplayAlone(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    CTerminalScreen s;
    CTtyrecPlayer::Play(in, s);
    return StateOf(s);
}

ScreenState FeedSplit(std::string_view bytes, const std::vector<std::size_t>& cuts) {
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

std::string AllByteValues() {
    std::string bytes;
    for (int b = 0; b < 256; ++b)
        bytes += static_cast<char>(b);
    return bytes;
}

std::string RandomStream(std::mt19937& rng, std::size_t tokens) {
    const auto pick = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    const auto anyByte = [&] { return static_cast<char>(pick(256)); };
    std::string out;
    for (std::size_t i = 0; i < tokens; ++i) {
        switch (pick(10)) {
        case 0:
            out += Esc("=") + anyByte() + anyByte();
            break;
        case 1:
            out += Esc("a") + std::to_string(pick(50) - 3) + "R" + std::to_string(pick(140)) + "C";
            break;
        case 2:
            out += Esc(pick(2) ? "F" : "f") + std::string(pick(4), ' ') + anyByte() + "x\r";
            break;
        case 3:
            out += Esc(pick(2) ? "`;" : "`:");
            break;
        case 4:
            out += Esc(pick(4) ? "T" : "+");
            break;
        case 5:
            out += Esc("") + anyByte();
            break;
        case 6:
            out += std::string(1 + pick(20), static_cast<char>('A' + pick(26))) + "\r\n"[pick(2)];
            break;
        default:
            for (int n = pick(40); n > 0; --n)
                out += anyByte();
        }
    }
    return out;
}

std::string Printable(std::string_view bytes) {
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
