// The main window's refresh: its cost on a full screen of changing rows, alone and while the
// screen is shared with 500 viewers; the Fields window's over 200 fields; and the program's memory
// after an hour of the sample game at 9600 baud and after a burst at pseudo-terminal speed. Runs on
// the offscreen platform.
#include "CFieldsDlg.h"
#include "CFieldsFeed.h"
#include "CShareServer.h"
#include "CTerminalApp.h"
#include "CTerminalDlg.h"
#include "PtyPair.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr char kEsc = 27;
// 9600 baud, 8N1: ten bit times per byte.
constexpr std::size_t kBytesPerSecond = 960;
constexpr std::size_t kBytesPerHour = kBytesPerSecond * 3600;
constexpr std::size_t kBytesPerRefresh = kBytesPerSecond * CTerminalDlg::kRefreshMs / 1000;

// A main window in a folder of its own (no settings file), its port open on a pseudo-terminal.
class OpenWindow {
public:
    OpenWindow() {
        const QString previous = QDir::currentPath();
        QDir::setCurrent(m_dir.path());
        m_dialog = std::make_unique<CTerminalDlg>();
        QDir::setCurrent(previous);
        CPortSettings settings;
        settings.m_device = QString::fromStdString(m_pty.SlavePath());
        CTerminalPort& port = m_dialog->Port();
        port.SetSettings(settings);
        port.SetProtocol(CTnCommPortEx::kTerminalProtocol);
        if (!port.Open())
            throw std::runtime_error("cannot open " + m_pty.SlavePath());
        m_dialog->UpdateButtons();
    }

    CTerminalDlg& Dialog() { return *m_dialog; }
    // What the reader thread does with every byte from the line.
    void Receive(std::string_view bytes) {
        for (const char b : bytes)
            m_dialog->Port().HandleTerminalData(b);
    }
    void Refresh() { m_dialog->RefreshDisplay(m_dialog->TimerId()); }
    const PtyPair& Line() const { return m_pty; }

private:
    QTemporaryDir m_dir;
    PtyPair m_pty;
    std::unique_ptr<CTerminalDlg> m_dialog;
};

// 42 rows of 132 columns, every one different from the screen before.
std::string FullScreen(int frame) {
    std::string bytes{kEsc, '`', ';'};
    for (int row = 0; row < CTerminalScreen::kRows; ++row) {
        bytes += {kEsc, '=', static_cast<char>(32 + row), ' '};
        std::string text = "frame " + std::to_string(frame) + " row " + std::to_string(row) + " ";
        while (text.size() < CTerminalScreen::kCols)
            text += static_cast<char>('A' + (frame + row + text.size()) % 26);
        bytes += text;
    }
    return bytes;
}

void RefreshFullScreen(benchmark::State& state, bool shown) {
    OpenWindow window;
    if (shown)
        window.Dialog().show();
    int frame = 0;
    for (auto _ : state) {
        state.PauseTiming();
        window.Receive(FullScreen(frame++));
        state.ResumeTiming();
        window.Refresh();
        // Shown, the list repaints the changed rows too.
        if (shown)
            QCoreApplication::processEvents();
    }
    if (window.Dialog().Lines().size() != CTerminalScreen::kRows)
        state.SkipWithError("the refresh did not show all 42 rows");
}

void BM_RefreshFullScreen(benchmark::State& state) {
    RefreshFullScreen(state, false);
}
void BM_RefreshAndPaintFullScreen(benchmark::State& state) {
    RefreshFullScreen(state, true);
}
BENCHMARK(BM_RefreshFullScreen)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RefreshAndPaintFullScreen)->Unit(benchmark::kMicrosecond);

// The Fields window's refresh over a full screen of changing rows with 200 fields drawn over it
// and listed with their values (five of 20 columns to a row), the paint included: the cost of
// each of its ticks, ten a second while it is open.
void BM_FieldsWindowRefresh(benchmark::State& state) {
    OpenWindow window;
    CFieldDefinitions definitions;
    constexpr int kFieldsPerRow = 5;
    for (int i = 0; i < 200; ++i)
        definitions.m_fields.push_back({QStringLiteral("f%1").arg(i), 1 + i / kFieldsPerRow,
                                        1 + 26 * (i % kFieldsPerRow), 20, 1, std::nullopt});
    if (QString error; !definitions.Save(window.Dialog().Station().FieldsFile(), &error))
        return state.SkipWithError(error.toStdString().c_str());
    CFieldsDlg& fields = window.Dialog().FieldsDialog();
    int frame = 0;
    for (auto _ : state) {
        state.PauseTiming();
        window.Receive(FullScreen(frame++));
        state.ResumeTiming();
        fields.Refresh();
        QCoreApplication::processEvents();
    }
    if (window.Dialog().Station().Fields().Values().Field(QStringLiteral("f0")).isEmpty())
        state.SkipWithError("the fields read nothing");
}
BENCHMARK(BM_FieldsWindowRefresh)->Unit(benchmark::kMicrosecond);

// Runs the event loop for ms; returns the longest any one piece of work held it, in ms: how
// late a refresh due meanwhile would have come.
double RunEventLoop(int ms) {
    QEventLoop loop;
    QElapsedTimer since;
    qint64 longest = 0;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout,
                     [&] { longest = std::max(longest, since.restart()); });
    since.start();
    probe.start(1);
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    return static_cast<double>(longest);
}

// The window's refresh (drain, interpret, hand the rows to the list; the paint follows on the
// window's own update timer, outside the timing) with the screen shared with range(0) viewers
// (none: not sharing), and how long one piece of work (the paint, the viewers' tick) held the
// event loop between two refreshes, median and longest, which is how late a refresh can be. The
// viewers are share_bench's, in a process of their own; between two refreshes the line changes
// every row and the event loop runs for one of the viewers' ticks, so they are sent the change
// as the window's refresh comes due.
void BM_RefreshWhileSharing(benchmark::State& state) {
    const int viewers = static_cast<int>(state.range(0));
    OpenWindow window;
    window.Dialog().show();
    CShareServer& share = window.Dialog().Share();
    QProcess watchers;
    if (viewers > 0) {
        CShareConfig config;
        config.m_port = 0;
        config.m_code = QStringLiteral("abcdefghjk"); // the one share_bench's viewers use
        if (!share.Start(config))
            return state.SkipWithError(share.LastError().toStdString().c_str());
        watchers.start(QStringLiteral(TALLYVIEW_SHARE_BENCH),
                       {"--viewers", QString::number(share.ServingPort()), QString::number(viewers),
                        QString::number(3600)});
        QElapsedTimer waited;
        waited.start();
        while (share.ViewerCount() < viewers && waited.elapsed() < 30000)
            RunEventLoop(50);
        if (share.ViewerCount() < viewers)
            return state.SkipWithError("the viewers did not all connect");
    }
    RunEventLoop(500); // the first paint, not counted
    int frame = 0;
    std::vector<double> held; // per pause between two refreshes
    for (auto _ : state) {
        state.PauseTiming();
        held.push_back(RunEventLoop(CShareViewers::kTickMs));
        window.Receive(FullScreen(frame++));
        QCoreApplication::processEvents();
        state.ResumeTiming();
        window.Refresh();
        QCoreApplication::processEvents();
    }
    std::sort(held.begin(), held.end());
    state.counters["loop_held_p50_ms"] = held[held.size() / 2];
    state.counters["loop_held_max_ms"] = held.back();
    state.counters["viewers_at_end"] = share.ViewerCount();
    state.counters["unsent_KiB_at_end"] = static_cast<double>(share.UnsentBytes()) / 1024;
    watchers.kill();
    watchers.waitForFinished();
}
BENCHMARK(BM_RefreshWhileSharing)->Arg(0)->Arg(500)->Iterations(100)->Unit(benchmark::kMicrosecond);

double ResidentMiB() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1048576.0;
}

double PeakResidentMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0; // kilobytes on Linux
}

std::string SampleGame(benchmark::State& state) {
    std::ifstream file(TALLYVIEW_SAMPLE_CAPTURE, std::ios::binary);
    std::string sample{std::istreambuf_iterator<char>(file), {}};
    if (sample.empty())
        state.SkipWithError("cannot read " TALLYVIEW_SAMPLE_CAPTURE);
    return sample;
}

// An hour of the sample game, looped, delivered at the line rate's share per refresh.
void BM_HourOfSampleGame(benchmark::State& state) {
    const std::string sample = SampleGame(state);
    if (sample.empty())
        return;
    for (auto _ : state) {
        OpenWindow window;
        window.Dialog().show();
        window.Refresh();
        QCoreApplication::processEvents();
        const double before = ResidentMiB();
        std::size_t at = 0;
        for (std::size_t sent = 0; sent < kBytesPerHour; sent += kBytesPerRefresh) {
            for (std::size_t n = 0; n < kBytesPerRefresh; ++n, at = (at + 1) % sample.size())
                window.Dialog().Port().HandleTerminalData(sample[at]);
            window.Refresh();
            QCoreApplication::processEvents();
        }
        const double after = ResidentMiB();
        state.counters["rss_start_MiB"] = before;
        state.counters["rss_end_MiB"] = after;
        state.counters["peak_rss_MiB"] = PeakResidentMiB();
        state.counters["pending_bytes"] = static_cast<double>(window.Dialog().Port().PendingSize());
    }
}
BENCHMARK(BM_HourOfSampleGame)->Iterations(1)->Unit(benchmark::kMillisecond);

// The sample game looped into the pseudo-terminal as fast as the kernel takes it, with the
// window refreshing on its own timer, then a quiet line: what stays resident once all of it
// has been shown is what the rest of the game would carry.
void BM_PtyBurstThenQuiet(benchmark::State& state) {
    const std::string sample = SampleGame(state);
    if (sample.empty())
        return;
    const std::size_t burst = static_cast<std::size_t>(state.range(0)) << 20;
    for (auto _ : state) {
        OpenWindow window;
        window.Dialog().show();
        QCoreApplication::processEvents();
        const double before = ResidentMiB();
        std::atomic<bool> done = false;
        std::thread writer([&] {
            for (std::size_t sent = 0; sent < burst; sent += sample.size())
                window.Line().Write(sample);
            done = true;
        });
        while (!done) {
            QCoreApplication::processEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        writer.join();
        // The last bytes reach the port, then two refreshes show them.
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        window.Refresh();
        window.Refresh();
        QCoreApplication::processEvents();
        state.counters["rss_before_MiB"] = before;
        state.counters["rss_after_MiB"] = ResidentMiB();
        state.counters["peak_rss_MiB"] = PeakResidentMiB();
        state.counters["pending_bytes"] = static_cast<double>(window.Dialog().Port().PendingSize());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * burst));
}
BENCHMARK(BM_PtyBurstThenQuiet)->Arg(256)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    CTerminalApp app(argc, argv); // with the program's memory settings
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
