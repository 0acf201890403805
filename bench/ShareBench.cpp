// The web view under load: 500 viewers on loopback while the screen changes 10 times a second.
// Reports the time from bytes being interpreted to a viewer having the update (p50, p99, max),
// the serving process's CPU and its memory per viewer. The viewers run in a second process
// (this program started again with --viewers), so their own cost is not counted.
#include "CBenchMeasure.h"
#include "CFieldsFeed.h"
#include "CScreenClock.h"
#include "CShareServer.h"
#include "CTerminalScreen.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTimer>
#include <QWebSocket>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <map>
#include <vector>

namespace {

constexpr int kViewers = 500;
constexpr int kUpdatesPerSecond = 10;
constexpr int kSeconds = 10;
const QString kCode = QStringLiteral("abcdefghjk");

long RssKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').front().toLong();
    return 0;
}

// The viewers' side: prints "sequence nanoseconds" for every marked update each viewer gets.
int RunViewers(quint16 port, int count, int seconds) {
    std::vector<std::unique_ptr<QWebSocket>> viewers;
    std::vector<std::pair<int, qint64>> arrivals;
    arrivals.reserve(static_cast<std::size_t>(count) * kUpdatesPerSecond * (seconds + 5));
    const QUrl url(QStringLiteral("ws://127.0.0.1:%1/ws?code=%2").arg(port).arg(kCode));
    for (int i = 0; i < count; ++i) {
        auto viewer = std::make_unique<QWebSocket>();
        QObject::connect(viewer.get(), &QWebSocket::textMessageReceived, [&](const QString& text) {
            const qint64 now = CBenchMeasure::NowNs();
            const QString row = QJsonDocument::fromJson(text.toUtf8())
                                    .object()
                                    .value("rows")
                                    .toObject()
                                    .value("0")
                                    .toString();
            if (row.startsWith(QLatin1String("seq ")))
                arrivals.emplace_back(row.mid(4, 8).toInt(), now);
        });
        viewer->open(url);
        viewers.push_back(std::move(viewer));
        if (i % 50 == 49) // in steps, as people arrive
            CBenchMeasure::Wait(20);
    }
    CBenchMeasure::Wait((seconds + 3) * 1000);
    for (const auto& [sequence, ns] : arrivals)
        std::printf("%d %lld\n", sequence, static_cast<long long>(ns));
    return 0;
}

void BM_FiveHundredViewers(benchmark::State& state) {
    for (auto _ : state) {
        CTerminalScreen screen;
        int fed = 0;
        std::map<int, qint64> interpreted; // sequence -> when the drain took it
        CScreenClock clock(screen, [&] {
            if (fed > 0 && !interpreted.contains(fed))
                interpreted[fed] = CBenchMeasure::NowNs();
            return true;
        });
        CFieldsFeed fields(clock.Changes());
        CShareServer server(clock.Changes(), fields);
        CShareConfig config;
        config.m_port = 0;
        config.m_code = kCode;
        if (!server.Start(config)) {
            state.SkipWithError(server.LastError().toStdString().c_str());
            return;
        }
        const long rssBefore = RssKiB();
        QProcess viewers;
        viewers.start(QCoreApplication::applicationFilePath(),
                      {"--viewers", QString::number(server.ServingPort()),
                       QString::number(kViewers), QString::number(kSeconds)});
        CBenchMeasure::Wait(30000, [&] { return server.ViewerCount() == kViewers; });
        const int connected = server.ViewerCount();

        // A board where a few rows change with every update, row 0 carrying the sequence.
        QTimer feed;
        feed.setTimerType(Qt::PreciseTimer);
        QObject::connect(&feed, &QTimer::timeout, [&] {
            ++fed;
            char text[160];
            const int n = std::snprintf(text, sizeof text, "\x1b=  seq %08d", fed);
            std::string bytes(text, static_cast<std::size_t>(n));
            for (int row = 0; row < 5; ++row) {
                bytes += "\x1b=";
                bytes += static_cast<char>(32 + 10 + (fed + row) % 30);
                bytes += static_cast<char>(32);
                bytes += std::string(120, static_cast<char>('A' + (fed + row) % 26));
            }
            for (const char b : bytes)
                screen.ReceiveByte(b);
        });
        const double cpuBefore = CBenchMeasure::CpuSeconds();
        QElapsedTimer wall;
        wall.start();
        feed.start(1000 / kUpdatesPerSecond);
        CBenchMeasure::Wait(kSeconds * 1000);
        feed.stop();
        const double cpuShare =
            (CBenchMeasure::CpuSeconds() - cpuBefore) / (wall.elapsed() / 1000.0);
        const long rssWith = RssKiB();
        viewers.waitForFinished(30000);

        const std::vector<double> latencies =
            CBenchMeasure::ArrivalsMs(viewers.readAllStandardOutput(), interpreted);
        state.counters["viewers"] = connected;
        state.counters["updates_seen"] = static_cast<double>(latencies.size());
        state.counters["p50_ms"] = CBenchMeasure::Quantile(latencies, 0.5);
        state.counters["p99_ms"] = CBenchMeasure::Quantile(latencies, 0.99);
        state.counters["max_ms"] = CBenchMeasure::Quantile(latencies, 1.0);
        state.counters["cpu_pct_of_core"] = 100.0 * cpuShare;
        state.counters["KiB_per_viewer"] =
            connected > 0 ? static_cast<double>(rssWith - rssBefore) / connected : 0;
    }
}
BENCHMARK(BM_FiveHundredViewers)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc == 5 && QByteArray(argv[1]) == "--viewers")
        return RunViewers(static_cast<quint16>(QByteArray(argv[2]).toUInt()),
                          QByteArray(argv[3]).toInt(), QByteArray(argv[4]).toInt());
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
