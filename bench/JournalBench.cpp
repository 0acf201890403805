// What the journal costs the program at 115200 baud: the reader's hand-over per chunk, and the
// CPU of the whole process (reader and journal thread) per second of line traffic.
#include "CBenchMeasure.h"
#include "CJournal.h"

#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <memory>

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

// A follower that keeps a screen and does nothing else, taking chunks in the publisher's
// rhythm: what a second follower beside the journal costs, and so the most that one follower
// shared by the journal and the publisher could save.
class CBareFollower : public CLineFollower {
public:
    explicit CBareFollower(const CTerminalScreen& screen)
        : CLineFollower(
              {QStringLiteral("bare"), 32 * 1024 * 1024, std::chrono::milliseconds(20), {}},
              screen) {
        Start();
    }
    ~CBareFollower() override { Finish(); }
    QString StateLine() const override { return {}; }

private:
    void Follow(const Chunk&) override {}
    void Dropped(quint64) override {}
};

// Seconds of line traffic at `rate` times 115200 baud through the journal (and a second
// follower when asked), written in the journal's rhythm. The CPU time of the process per
// iteration, over one second, is the share of a core it takes.
void LineSeconds(benchmark::State& state, int rate, bool secondFollower) {
    QTemporaryDir dir;
    CTerminalScreen screen;
    CJournal journal(InFolder(dir), screen);
    std::unique_ptr<CBareFollower> second;
    if (secondFollower)
        second = std::make_unique<CBareFollower>(screen);
    CLine line;
    const double cpuBefore = CBenchMeasure::CpuSeconds();
    for (auto _ : state) {
        for (int write = 0; write < kWritesPerSecond; ++write) {
            for (std::size_t b = 0; b < std::size_t(rate) * kLineBytesPerSecond / kWritesPerSecond;
                 b += kChunk) {
                const QByteArrayView chunk = line.Next();
                journal.Feed(chunk);
                if (second)
                    second->Feed(chunk);
            }
            journal.WaitWritten();
            if (second)
                second->WaitFollowed();
        }
    }
    state.counters["core_percent"] =
        (CBenchMeasure::CpuSeconds() - cpuBefore) / static_cast<double>(state.iterations()) * 100.0;
}

void BM_JournalLineSecond(benchmark::State& state) {
    LineSeconds(state, 1, false);
}
BENCHMARK(BM_JournalLineSecond)->MeasureProcessCPUTime()->Unit(benchmark::kMicrosecond);

// Arguments: the rate, and whether a second follower runs beside the journal.
void BM_FollowersLineSecond(benchmark::State& state) {
    LineSeconds(state, static_cast<int>(state.range(0)), state.range(1) != 0);
}
BENCHMARK(BM_FollowersLineSecond)
    ->ArgsProduct({{1, 8}, {0, 1}})
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMicrosecond);

} // namespace
