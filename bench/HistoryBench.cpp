// The History window's goals on a journal of a whole game: a generated journal of
// TALLYVIEW_BENCH_HOURS hours (4 by default, about 165 MB of line bytes) of the sample game
// (one period after another, each with its own seed) sent at 115200 baud and read in the
// chunks a serial reader gets at that rate (one read every 0.2 to 3.2 ms, about 20 bytes),
// with one marker text written three quarters of the way in. The program was restarted at the
// end, so that file is closed and a new one has just begun. Measures the index ready at
// start-up (the closed file's index kept beside it) and from nothing, opening the window on
// it, a seek to any moment shown in the window, a step to the next moment the screen settled,
// a find over the whole journal, the memory the index holds, and a field's series over the
// whole journal (first asked, asked again, and at a fresh start). Each run writes its journal
// in a folder of its own.
#include "CBenchMeasure.h"
#include "CFieldSeries.h"
#include "CHistoryDlg.h"
#include "CJournalIndex.h"
#include "CJournalIndexFile.h"
#include "CSampleGame.h"
#include "CScreenCommands.h"
#include "CTtyrecRecord.h"

#include <QApplication>
#include <QElapsedTimer>
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono;

constexpr double kBytesPerSecond = 11520.0; // 115200 baud, 10 bits a byte
constexpr const char* kDayPrefix = "2026-12-05_";
constexpr const char* kGameFile = "2026-12-05_19-00-00.ttyrec";
constexpr const char* kNewFile = "2026-12-05_23-10-00.ttyrec";
constexpr const char* kMarker = "GOAL BY NUMBER 99";

double Hours() {
    const char* hours = std::getenv("TALLYVIEW_BENCH_HOURS");
    return hours ? std::atof(hours) : 4.0;
}

// The sample game's periods one after another, each with its own seed.
class CGameLine {
public:
    char Next() {
        if (m_at == m_period.size()) {
            m_period = CSampleGame(m_seed++).Generate();
            m_at = 0;
        }
        return m_period[m_at++];
    }
    bool AtSequence() const { return m_at < m_period.size() && m_period[m_at] == '\x1b'; }

private:
    std::uint32_t m_seed = 1;
    std::string m_period;
    std::size_t m_at = 0;
};

class CJournalFixture {
public:
    CJournalFixture()
        : m_folder(fs::temp_directory_path() /
                   ("tallyview-history-bench-" + std::to_string(getpid()))) {
        fs::remove_all(m_folder);
        fs::create_directories(m_folder);
        const CTtyrecRecord::Time start{seconds(1'796'670'000)};
        m_bytes = WriteGame(m_folder / kGameFile, start);
        WriteNewFile(m_folder / kNewFile, start + hours(5));
        CJournalIndex(m_folder, kDayPrefix).Update(); // keeps the closed file's index
    }
    ~CJournalFixture() { fs::remove_all(m_folder); }

    const fs::path& Folder() const { return m_folder; }
    std::uint64_t Bytes() const { return m_bytes; }

private:
    static std::uint64_t WriteGame(const fs::path& path, CTtyrecRecord::Time time) {
        const std::uint64_t total = static_cast<std::uint64_t>(Hours() * 3600 * kBytesPerSecond);
        std::ofstream out(path, std::ios::binary);
        std::mt19937 rng(7);
        std::uniform_real_distribution<double> readEvery(0.2e-3, 3.2e-3); // seconds
        CGameLine line;
        std::string buffer;
        const CTerminalScreen blank;
        CTtyrecRecord::Encode(time, CScreenCommands::Of(blank), buffer);
        bool marked = false;
        double owed = 0; // bytes the line has sent since the last read
        for (std::uint64_t sent = 0; sent < total;) {
            const double wait = readEvery(rng);
            owed += wait * kBytesPerSecond;
            time += microseconds(static_cast<long>(wait * 1e6));
            if (owed < 1)
                continue;
            std::string chunk;
            // At a sequence's start, so the marker is not taken into one.
            if (!marked && sent >= total / 4 * 3 && line.AtSequence()) {
                chunk = std::string("\x1b"
                                    "a40R10C") +
                        kMarker;
                marked = true;
            } else {
                for (; owed >= 1; owed -= 1)
                    chunk += line.Next();
            }
            CTtyrecRecord::Encode(time, chunk, buffer);
            sent += chunk.size();
            if (buffer.size() > (1u << 20)) {
                out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
                buffer.clear();
            }
        }
        out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        return static_cast<std::uint64_t>(out.tellp());
    }

    // The file a restart begins: the screen, then a few seconds of the line.
    static void WriteNewFile(const fs::path& path, CTtyrecRecord::Time time) {
        std::string buffer;
        const CTerminalScreen blank;
        CTtyrecRecord::Encode(time, CScreenCommands::Of(blank), buffer);
        CGameLine line;
        for (int read = 1; read <= 1000; ++read) {
            std::string chunk;
            for (int i = 0; i < 20; ++i)
                chunk += line.Next();
            CTtyrecRecord::Encode(time + milliseconds(2 * read), chunk, buffer);
        }
        std::ofstream(path, std::ios::binary) << buffer;
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

// The index over the whole journal and the screen of its last moment as a start-up finds
// them: the closed file's index kept beside it, the new file read.
void BM_IndexReady(benchmark::State& state) {
    for (auto _ : state) {
        CJournalIndex index(Journal().Folder(), kDayPrefix);
        index.Update();
        benchmark::DoNotOptimize(index.At(index.RecordCount() - 1));
    }
}
BENCHMARK(BM_IndexReady)->Unit(benchmark::kMillisecond)->Iterations(5);

// The same from nothing: every file read (and the closed file's index written again).
void BM_BuildIndex(benchmark::State& state) {
    const fs::path kept = CJournalIndexFile::PathOf(Journal().Folder() / kGameFile);
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove(kept);
        state.ResumeTiming();
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

// Next from a random moment: to where the screen next settled (the line quiet a quarter second,
// or a second into a stream), Arg 1, or one change on (Shift), Arg 0; then that screen.
void BM_Step(benchmark::State& state) {
    const CJournalIndex& index = Index();
    const bool byMoment = state.range(0) != 0;
    std::mt19937_64 rng(6);
    for (auto _ : state) {
        const std::uint64_t from = rng() % (index.RecordCount() - 1);
        benchmark::DoNotOptimize(index.At(byMoment ? index.MomentFrom(from, 1) : from + 1));
    }
    state.counters["moments"] = static_cast<double>(index.MomentCount());
}
BENCHMARK(BM_Step)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

// The CPU seconds of all the process's threads per iteration, beside the benchmark's own
// measures (the main thread's CPU, and the clock, which a loaded machine stretches).
class CProcessCpu {
public:
    explicit CProcessCpu(benchmark::State& state)
        : m_state(state), m_start(CBenchMeasure::CpuSeconds()) {}
    ~CProcessCpu() {
        m_state.counters["process_cpu_s"] =
            (CBenchMeasure::CpuSeconds() - m_start) / static_cast<double>(m_state.iterations());
    }

private:
    benchmark::State& m_state;
    double m_start;
};

// Text that never appears: the whole journal is searched.
void BM_FindMissing(benchmark::State& state) {
    const CJournalIndex& index = Index();
    const CProcessCpu cpu(state);
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
    const CProcessCpu cpu(state);
    for (auto _ : state)
        if (!index.Find("goal by number 99", from, forward))
            state.SkipWithError("the marker was not found");
}
BENCHMARK(BM_FindMarker)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(3);

// The home score over the whole journal, as the game-flow chart reads it.
CFieldSeries ScoreSeries() {
    return [] {
        const CFieldDefinitions::When clock{.m_row = 3, .m_column = 62, .m_text = "CLOCK"};
        const CFieldDefinitions definitions{.m_fields = {{.m_name = "home_score",
                                                          .m_row = 3,
                                                          .m_column = 21,
                                                          .m_width = 2,
                                                          .m_when = clock}},
                                            .m_tables = {},
                                            .m_unknown = {}};
        QString problem;
        return *CFieldSeries::Of(definitions, QStringLiteral("home_score"), &problem);
    }();
}

void CountPoints(benchmark::State& state,
                 const std::optional<std::vector<CFieldSeries::Point>>& points) {
    if (!points || points->empty())
        state.SkipWithError("no series");
    else
        state.counters["points"] = static_cast<double>(points->size());
}

// The series asked again, as the web view and the History window ask it of the indexes they
// keep: History's, and what the series read of each block.
void BM_SeriesKept(benchmark::State& state) {
    const CJournalIndex& index = Index();
    const CFieldSeries series = ScoreSeries();
    std::optional<std::vector<CFieldSeries::Point>> points = series.Points(index);
    for (auto _ : state)
        points = series.Points(index);
    CountPoints(state, points);
}

// The first series of a field on History's index.
void BM_SeriesFirst(benchmark::State& state) {
    const CJournalIndex& index = Index();
    std::optional<std::vector<CFieldSeries::Point>> points;
    const CProcessCpu cpu(state);
    for (auto _ : state)
        points = ScoreSeries().Points(index);
    CountPoints(state, points);
}
BENCHMARK(BM_SeriesFirst)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SeriesKept)->Unit(benchmark::kMillisecond)->Iterations(5);

// The series on a fresh start: the index taken from the file kept beside the journal.
void BM_SeriesCold(benchmark::State& state) {
    std::optional<std::vector<CFieldSeries::Point>> points;
    const CProcessCpu cpu(state);
    for (auto _ : state) {
        CJournalIndex index(Journal().Folder(), kDayPrefix);
        index.Update();
        points = ScoreSeries().Points(index);
    }
    CountPoints(state, points);
}
BENCHMARK(BM_SeriesCold)->Unit(benchmark::kMillisecond)->Iterations(3);

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
    Journal(); // written before anything is timed
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
