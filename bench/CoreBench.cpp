// Throughput of the interpreter on three kinds of line traffic, against memchr over the same
// bytes (the physical reference) and libvterm fed the same screen content in its own encoding.
#include "CScreenCommands.h"
#include "CTerminalScreen.h"

#include <benchmark/benchmark.h>
#include <vterm.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kStreamBytes = 8u << 20;

// The same screen traffic written in the two encodings.
struct Streams {
    std::string tallyview;
    std::string vterm;

    void Text(const std::string& text) {
        tallyview += text;
        vterm += text;
    }
    void MoveTo(int row, int col) { // 0-based
        tallyview += "\x1b"
                     "a" +
                     std::to_string(row + 1) + "R" + std::to_string(col + 1) + "C";
        vterm += "\x1b[" + std::to_string(row + 1) + ";" + std::to_string(col + 1) + "H";
    }
    void MoveToBinary(int row, int col) { // 0-based; columns up to 95
        tallyview +=
            std::string("\x1b=") + static_cast<char>(row + 32) + static_cast<char>(col + 32);
        vterm += "\x1b[" + std::to_string(row + 1) + ";" + std::to_string(col + 1) + "H";
    }
    void ClearScreen() {
        tallyview += "\x1b+";
        vterm += "\x1b[2J";
    }
    void ClearToEnd() {
        tallyview += "\x1bT";
        vterm += "\x1b[K";
    }
    void Status(const std::string& text) { // vterm has no message line: a window title
        tallyview += "\x1b"
                     "F" +
                     text + "\r";
        vterm += "\x1b]2;" + text + "\x07";
    }
    void Wide() { tallyview += "\x1b`;"; }
};

std::string Word(std::mt19937& rng) {
    static const char* words[] = {"Harbor",  "Kestrels", "rebound", "3-pt",   "FG%", "  ",   "41",
                                  "timeout", "Okafor",   "12:04",   "assist", "|",   "TOTAL"};
    return words[rng() % std::size(words)];
}

// Long printable runs that wrap at the line width.
Streams TextHeavy() {
    std::mt19937 rng(1);
    Streams s;
    s.Wide();
    while (s.tallyview.size() < kStreamBytes) {
        std::string paragraph;
        while (paragraph.size() < 4000)
            paragraph += Word(rng) + " ";
        s.Text(paragraph);
    }
    return s;
}

// A statistics screen redrawn field by field: the same layout of fields every pass, each
// addressed (ESC = and ESC a alternately) and rewritten at its width.
Streams AddressingHeavy() {
    struct Field {
        int row, col, width;
    };
    std::mt19937 rng(2);
    std::vector<Field> layout;
    for (int row = 4; row < 40; row += 2)
        for (int col = 20; col < 128; col += 24)
            layout.push_back({row, col, 2 + (row + col) % 3});
    Streams s;
    s.Wide();
    while (s.tallyview.size() < kStreamBytes) {
        for (std::size_t i = 0; i < layout.size(); ++i) {
            const Field& f = layout[i];
            if (i % 2 == 0 && f.col < 96)
                s.MoveToBinary(f.row, f.col);
            else
                s.MoveTo(f.row, f.col);
            std::string value = std::to_string(rng() % 100);
            s.Text(std::string(f.width - value.size(), ' ') + value);
        }
    }
    return s;
}

// Page redraws with clears, line clears and message fields between text.
Streams Mixed() {
    std::mt19937 rng(3);
    Streams s;
    s.Wide();
    while (s.tallyview.size() < kStreamBytes) {
        s.ClearScreen();
        for (int row = 0; row < 42; ++row) {
            s.MoveTo(row, 0);
            s.ClearToEnd();
            std::string line;
            while (line.size() < 60)
                line += Word(rng) + " ";
            s.Text(line);
        }
        s.Status("Home " + std::to_string(rng() % 120) + "  Away " + std::to_string(rng() % 120));
    }
    return s;
}

const Streams& Get(int which) {
    static const Streams streams[] = {TextHeavy(), AddressingHeavy(), Mixed()};
    return streams[which];
}

const char* const kNames[] = {"TextHeavy", "AddressingHeavy", "Mixed"};

void BM_ParseBuffer(benchmark::State& state) {
    const std::string& bytes = Get(static_cast<int>(state.range(0))).tallyview;
    CTerminalScreen screen;
    for (auto _ : state)
        benchmark::DoNotOptimize(screen.ParseBuffer(bytes));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
    state.SetLabel(kNames[state.range(0)]);
}

void BM_Memchr(benchmark::State& state) {
    const std::string& bytes = Get(static_cast<int>(state.range(0))).tallyview;
    for (auto _ : state) {
        std::size_t escapes = 0;
        for (const char *p = bytes.data(), *end = p + bytes.size();
             (p = static_cast<const char*>(std::memchr(p, 27, end - p))) != nullptr; ++p)
            ++escapes;
        benchmark::DoNotOptimize(escapes);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
    state.SetLabel(kNames[state.range(0)]);
}

void BM_Libvterm(benchmark::State& state) {
    const std::string& bytes = Get(static_cast<int>(state.range(0))).vterm;
    VTerm* vt = vterm_new(42, 132);
    vterm_set_utf8(vt, 0);
    VTermScreen* screen = vterm_obtain_screen(vt);
    vterm_screen_reset(screen, 1);
    // Fed in read-sized blocks, as a terminal reads its line.
    constexpr std::size_t kBlock = 4096;
    for (auto _ : state)
        for (std::size_t at = 0; at < bytes.size(); at += kBlock)
            vterm_input_write(vt, bytes.data() + at, std::min(kBlock, bytes.size() - at));
    vterm_free(vt);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
    state.SetLabel(kNames[state.range(0)]);
}

// What a follower (the journal's or the publisher's shadow) costs to start from a full live
// screen with a sequence pending: arg 0 writes the screen out as commands and parses them
// again, arg 1 copies it and drains the copy.
void BM_SeedFollower(benchmark::State& state) {
    CTerminalScreen live;
    live.ReceiveBytes(std::string_view(Get(2).tallyview).substr(0, 64 * 1024));
    live.ProcessReceived();
    live.ReceiveBytes("\x1b"
                      "a12R");
    const bool copy = state.range(0) != 0;
    for (auto _ : state) {
        std::unique_ptr<CTerminalScreen> shadow;
        if (copy) {
            shadow = std::make_unique<CTerminalScreen>(live);
        } else {
            shadow = std::make_unique<CTerminalScreen>();
            shadow->ReceiveBytes(CScreenCommands::Of(live));
        }
        shadow->ProcessReceived();
        benchmark::DoNotOptimize(shadow->Row());
    }
    state.SetLabel(copy ? "copy" : "commands");
}

BENCHMARK(BM_ParseBuffer)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memchr)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Libvterm)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SeedFollower)->DenseRange(0, 1)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
