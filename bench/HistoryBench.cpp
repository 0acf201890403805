// The History window's goals on a journal of a whole game: a generated journal of
// TALLYVIEW_BENCH_HOURS hours (4 by default, about 165 MB of line bytes) at 115200 baud, the
// sample game looped in chunks of 1 to 128 bytes as a serial reader delivers them, with one
// marker text written three quarters of the way in. Measures building the index (done on a
// worker thread from start-up), opening the window on it, a seek to any moment shown in the
// window, a find over the whole journal, and the memory the index holds.
#include "CHistoryDlg.h"
#include "CJournalIndex.h"
#include "CScreenCommands.h"
#include "CTtyrecRecord.h"

#include <QApplication>
#include <QElapsedTimer>
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono;

constexpr double kBytesPerSecond = 11520.0; // 115200 baud, 10 bits a byte
constexpr const char* kDayPrefix = "2026-12-05_";
constexpr const char* kMarker = "GOAL BY NUMBER 99";

double Hours() {
    const char* hours = std::getenv("TALLYVIEW_BENCH_HOURS");
    return hours ? std::atof(hours) : 4.0;
}

class CJournalFixture {
public:
    CJournalFixture() : m_folder(fs::temp_directory_path() / "tallyview-history-bench") {
        fs::remove_all(m_folder);
        fs::create_directories(m_folder);
        Write(m_folder / (std::string(kDayPrefix) + "19-00-00.ttyrec"));
    }
    ~CJournalFixture() { fs::remove_all(m_folder); }

    const fs::path& Folder() const { return m_folder; }
    std::uint64_t Bytes() const { return m_bytes; }

private:
    void Write(const fs::path& path) {
        std::ifstream capture(TALLYVIEW_SAMPLE_CAPTURE, std::ios::binary);
        const std::string sample{std::istreambuf_iterator<char>(capture), {}};
        if (sample.empty())
            return;
        const std::uint64_t total = static_cast<std::uint64_t>(Hours() * 3600 * kBytesPerSecond);
        std::ofstream out(path, std::ios::binary);
        std::mt19937 rng(7);
        std::string buffer;
        CTtyrecRecord::Time time{seconds(1'796'670'000)};
        const CTerminalScreen blank;
        CTtyrecRecord::Encode(time, CScreenCommands::Of(blank), buffer);
        std::uint64_t at = 0;
        bool marked = false;
        for (std::uint64_t sent = 0; sent < total;) {
            std::string chunk;
            // At a sequence's start, so the marker is not taken into one.
            if (!marked && sent >= total / 4 * 3 && sample[at] == '\x1b') {
                chunk = std::string("\x1b"
                                    "a40R10C") +
                        kMarker;
                marked = true;
            } else {
                const std::size_t n = 1 + rng() % 128;
                for (std::size_t i = 0; i < n; ++i, at = (at + 1) % sample.size())
                    chunk += sample[at];
            }
            time += microseconds(static_cast<long>(chunk.size() * 1e6 / kBytesPerSecond));
            CTtyrecRecord::Encode(time, chunk, buffer);
            sent += chunk.size();
            if (buffer.size() > (1u << 20)) {
                out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
                buffer.clear();
            }
        }
        out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        m_bytes = static_cast<std::uint64_t>(out.tellp());
    }

    fs::path m_folder;
    std::uint64_t m_bytes = 0;
};

const CJournalFixture& Journal() {
    static const CJournalFixture journal;
    return journal;
}

const CJournalIndex& Index() {
    static const CJournalIndex index = [] {
        CJournalIndex built(Journal().Folder(), kDayPrefix);
        built.Update();
        return built;
    }();
    return index;
}

// The index over the whole journal and the screen of its last moment, from nothing.
void BM_BuildIndex(benchmark::State& state) {
    for (auto _ : state) {
        CJournalIndex index(Journal().Folder(), kDayPrefix);
        index.Update();
        benchmark::DoNotOptimize(index.At(index.RecordCount() - 1));
    }
    CJournalIndex index(Journal().Folder(), kDayPrefix);
    index.Update();
    state.counters["journal_MB"] = static_cast<double>(Journal().Bytes()) / 1e6;
    state.counters["records"] = static_cast<double>(index.RecordCount());
    state.counters["index_KiB"] = static_cast<double>(index.MemoryBytes()) / 1024.0;
}
BENCHMARK(BM_BuildIndex)->Unit(benchmark::kMillisecond)->Iterations(3);

// A seek to a random moment; the worst case lies just before a checkpoint.
void BM_Seek(benchmark::State& state) {
    const CJournalIndex& index = Index();
    std::mt19937_64 rng(3);
    for (auto _ : state)
        benchmark::DoNotOptimize(index.At(rng() % index.RecordCount()));
}
BENCHMARK(BM_Seek)->Unit(benchmark::kMillisecond);

// A typed clock time: the record, then its screen.
void BM_SeekTime(benchmark::State& state) {
    const CJournalIndex& index = Index();
    const auto first = *index.FirstTime();
    const auto span = (*index.LastTime() - first).count();
    std::mt19937_64 rng(4);
    for (auto _ : state) {
        const auto record = index.RecordAt(first + microseconds(rng() % span));
        benchmark::DoNotOptimize(index.At(*record));
    }
}
BENCHMARK(BM_SeekTime)->Unit(benchmark::kMillisecond);

// Text that never appears: the whole journal is searched.
void BM_FindMissing(benchmark::State& state) {
    const CJournalIndex& index = Index();
    for (auto _ : state)
        if (index.Find("no such text anywhere", 0, true))
            state.SkipWithError("found text that is not there");
}
BENCHMARK(BM_FindMissing)->Unit(benchmark::kMillisecond)->Iterations(3);

// The marker, three quarters in, from both ends.
void BM_FindMarker(benchmark::State& state) {
    const CJournalIndex& index = Index();
    const bool forward = state.range(0) != 0;
    const std::uint64_t from = forward ? 0 : index.RecordCount();
    for (auto _ : state)
        if (!index.Find("goal by number 99", from, forward))
            state.SkipWithError("the marker was not found");
}
BENCHMARK(BM_FindMarker)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(3);

// Runs the events until the window's index is ready.
bool WaitForIndex(const CHistoryDlg& window) {
    QElapsedTimer clock;
    clock.start();
    while (!window.Indexed() && clock.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return window.Indexed();
}

// The window as the operator opens it: its index was built from start-up.
void BM_OpenWindow(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        {
            CHistoryDlg window(QString::fromStdString(Journal().Folder().string()), QString(),
                               nullptr);
            if (!WaitForIndex(window))
                state.SkipWithError("the index was not built");
            state.ResumeTiming();
            window.Open();
            QCoreApplication::processEvents();
            state.PauseTiming();
        }
        state.ResumeTiming();
    }
}
BENCHMARK(BM_OpenWindow)->Unit(benchmark::kMillisecond)->Iterations(3);

// A seek as the window does it: the moment's screen rebuilt and shown in the list.
void BM_SeekInWindow(benchmark::State& state) {
    CHistoryDlg window(QString::fromStdString(Journal().Folder().string()), QString(), nullptr);
    if (!WaitForIndex(window))
        state.SkipWithError("the index was not built");
    window.Open();
    QCoreApplication::processEvents();
    std::mt19937_64 rng(5);
    const std::uint64_t records = Index().RecordCount();
    for (auto _ : state) {
        window.ShowRecord(rng() % records);
        QCoreApplication::processEvents();
    }
}
BENCHMARK(BM_SeekInWindow)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
