// The fields under load: 200 fields read from a screen that changes 10 times a second, pushed
// to 100 event-stream clients on loopback. Reports the time from the change arriving on the
// line to a client having its event (p50, p99, max) and the serving process's CPU. The clients
// run in a second process (this program started again with --clients), so their own cost is not
// counted.
#include "CBenchMeasure.h"
#include "CFieldsFeed.h"
#include "CShareServer.h"
#include "CTerminalScreen.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <map>
#include <memory>
#include <vector>

namespace {

constexpr int kClients = 100;
constexpr int kFieldsPerRow = 5;
constexpr int kFieldRows = 40;
constexpr int kChangesPerSecond = 10;
constexpr int kSeconds = 10;
const QString kCode = QStringLiteral("abcdefghjk");

// 200 fields of 20 columns, five to a row; the first carries the sequence.
CFieldDefinitions Definitions() {
    CFieldDefinitions definitions;
    for (int i = 0; i < kFieldRows * kFieldsPerRow; ++i)
        definitions.m_fields.push_back({QStringLiteral("f%1").arg(i, 3, 10, QLatin1Char('0')),
                                        1 + i / kFieldsPerRow, 1 + 26 * (i % kFieldsPerRow), 20, 1,
                                        std::nullopt});
    return definitions;
}

// The clients' side: prints "sequence nanoseconds" for every event each client gets.
int RunClients(quint16 port, int count, int seconds) {
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    std::vector<std::pair<int, qint64>> arrivals;
    arrivals.reserve(static_cast<std::size_t>(count) * kChangesPerSecond * (seconds + 5));
    const QByteArray request =
        QStringLiteral("GET /fields/events?code=%1 HTTP/1.1\r\nHost: x\r\n\r\n")
            .arg(kCode)
            .toLatin1();
    const QByteArray marker = "\"f000\":\"seq ";
    for (int i = 0; i < count; ++i) {
        auto client = std::make_unique<QTcpSocket>();
        QTcpSocket* socket = client.get();
        auto buffer = std::make_shared<QByteArray>();
        QObject::connect(socket, &QTcpSocket::readyRead, [&, socket, buffer] {
            const qint64 now = CBenchMeasure::NowNs();
            *buffer += socket->readAll();
            for (qsizetype end; (end = buffer->indexOf("\n\n")) >= 0; buffer->remove(0, end + 2))
                if (const qsizetype at = buffer->left(end).indexOf(marker); at >= 0)
                    arrivals.emplace_back(buffer->mid(at + marker.size(), 8).toInt(), now);
        });
        socket->connectToHost(QStringLiteral("127.0.0.1"), port);
        socket->write(request);
        clients.push_back(std::move(client));
    }
    CBenchMeasure::Wait((seconds + 3) * 1000);
    for (const auto& [sequence, ns] : arrivals)
        std::printf("%d %lld\n", sequence, static_cast<long long>(ns));
    return 0;
}

void BM_HundredEventStreamsTwoHundredFields(benchmark::State& state) {
    for (auto _ : state) {
        CTerminalScreen screen;
        CFieldsFeed fields(screen, [] { return true; });
        fields.SetDefinitions(Definitions());
        CShareServer server(
            screen, [] { return true; }, fields);
        CShareConfig config;
        config.m_port = 0;
        config.m_code = kCode;
        config.m_maxViewers = kClients;
        if (!server.Start(config)) {
            state.SkipWithError(server.LastError().toStdString().c_str());
            return;
        }
        QProcess clients;
        clients.start(QCoreApplication::applicationFilePath(),
                      {"--clients", QString::number(server.ServingPort()),
                       QString::number(kClients), QString::number(kSeconds)});
        CBenchMeasure::Wait(30000, [&] { return server.FieldsStreamCount() == kClients; });
        const int connected = server.FieldsStreamCount();

        // Every change: the sequence field, and one other row of fields.
        int fed = 0;
        std::map<int, qint64> arrived; // sequence -> when its bytes came off the line
        QTimer line;
        line.setTimerType(Qt::PreciseTimer);
        QObject::connect(&line, &QTimer::timeout, [&] {
            ++fed;
            char text[32];
            std::snprintf(text, sizeof text, "\x1b=  seq %08d", fed);
            std::string bytes = text;
            bytes += "\x1b=";
            bytes += static_cast<char>(32 + 1 + fed % (kFieldRows - 1));
            bytes += static_cast<char>(32);
            bytes += std::string(130, static_cast<char>('A' + fed % 26));
            arrived[fed] = CBenchMeasure::NowNs();
            screen.ReceiveBytes(bytes);
        });
        const double cpuBefore = CBenchMeasure::CpuSeconds();
        QElapsedTimer wall;
        wall.start();
        line.start(1000 / kChangesPerSecond);
        CBenchMeasure::Wait(kSeconds * 1000);
        line.stop();
        const double cpuShare =
            (CBenchMeasure::CpuSeconds() - cpuBefore) / (wall.elapsed() / 1000.0);
        clients.waitForFinished(30000);

        const std::vector<double> latencies =
            CBenchMeasure::ArrivalsMs(clients.readAllStandardOutput(), arrived);
        state.counters["clients"] = connected;
        state.counters["changes"] = fed;
        state.counters["events_seen"] = static_cast<double>(latencies.size());
        state.counters["p50_ms"] = CBenchMeasure::Quantile(latencies, 0.5);
        state.counters["p99_ms"] = CBenchMeasure::Quantile(latencies, 0.99);
        state.counters["max_ms"] = CBenchMeasure::Quantile(latencies, 1.0);
        state.counters["cpu_pct_of_core"] = 100.0 * cpuShare;
    }
}
BENCHMARK(BM_HundredEventStreamsTwoHundredFields)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc == 5 && QByteArray(argv[1]) == "--clients")
        return RunClients(static_cast<quint16>(QByteArray(argv[2]).toUInt()),
                          QByteArray(argv[3]).toInt(), QByteArray(argv[4]).toInt());
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
