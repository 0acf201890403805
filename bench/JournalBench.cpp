// What the journal costs the program at 115200 baud: the reader's hand-over per chunk, and the
// CPU of the whole process (reader and journal thread) per second of line traffic.
#include "CBenchMeasure.h"
#include "CJournal.h"

#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

constexpr std::size_t kLineBytesPerSecond = 11520; // 115200 baud, 8N1
constexpr std::size_t kChunk = 64;                 // what one read of the device brings
constexpr int kWritesPerSecond = 5;                // the journal's write interval is 200 ms

std::string Game() {
    QFile file(QStringLiteral(TALLYVIEW_SAMPLE_CAPTURE));
    if (!file.open(QIODevice::ReadOnly))
        return std::string(kLineBytesPerSecond, 'x');
    return file.readAll().toStdString();
}

// Chunks of the sample game, one line second's worth per call, going round the game.
class CLine {
public:
    CLine() : m_game(Game()) {}
    QByteArrayView Next() {
        if (m_at + kChunk > m_game.size())
            m_at = 0;
        const QByteArrayView chunk(m_game.data() + m_at, qsizetype(kChunk));
        m_at += kChunk;
        return chunk;
    }

private:
    std::string m_game;
    std::size_t m_at = 0;
};

CJournal::Settings InFolder(const QTemporaryDir& dir) {
    CJournal::Settings settings;
    settings.m_folder = dir.path();
    return settings;
}

// The reader's side alone: the cost of handing one chunk over.
void BM_JournalHandOver(benchmark::State& state) {
    QTemporaryDir dir;
    CTerminalScreen screen;
    CJournal journal(InFolder(dir), screen);
    CLine line;
    std::size_t fed = 0;
    for (auto _ : state) {
        journal.Feed(line.Next());
        if (++fed % 4096 == 0) {
            state.PauseTiming();
            journal.WaitWritten(); // keep the hand-over small, as the journal's thread would
            state.ResumeTiming();
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kChunk));
}
BENCHMARK(BM_JournalHandOver);

// One second of line traffic through the journal, written in the journal's rhythm. The CPU
// time of the process per iteration, over one second, is the share of a core it takes.
void BM_JournalLineSecond(benchmark::State& state) {
    QTemporaryDir dir;
    CTerminalScreen screen;
    CJournal journal(InFolder(dir), screen);
    CLine line;
    const double cpuBefore = CBenchMeasure::CpuSeconds();
    for (auto _ : state) {
        for (int write = 0; write < kWritesPerSecond; ++write) {
            for (std::size_t b = 0; b < kLineBytesPerSecond / kWritesPerSecond; b += kChunk)
                journal.Feed(line.Next());
            journal.WaitWritten();
        }
    }
    state.counters["core_percent"] =
        (CBenchMeasure::CpuSeconds() - cpuBefore) / static_cast<double>(state.iterations()) * 100.0;
}
BENCHMARK(BM_JournalLineSecond)->MeasureProcessCPUTime()->Unit(benchmark::kMicrosecond);

} // namespace
