// The fields under load: 200 fields read from a screen that changes 10 times a second, pushed
// to 100 event-stream clients on loopback. Reports the time from the change arriving on the
// line to a client having its event (p50, p99, max) and the serving process's CPU. The clients
// run in a second process (this program started again with --clients), so their own cost is not
// counted. A second run takes a whole station on a pseudo-terminal and reports, for each output
// a graphics operator uses, the time from the change written to the line to the output showing
// it: the event stream, /fields.json, the field's text file and a web viewer (--watch, polling
// the file every 1 ms, and the JSON every 2 ms in the run with argument 1: every request reads
// the screen at once, so the other outputs are measured alone in the run with argument 0).
#include "CBenchMeasure.h"
#include "CFieldsFeed.h"
#include "CScreenClock.h"
#include "CShareServer.h"
#include "CStation.h"
#include "CTerminalScreen.h"
#include "PortTestSupport.h"
#include "PtyPair.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebSocket>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <set>
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

// The sequence after `marker` in `text`, or -1.
int SequenceAfter(const QByteArray& text, const QByteArray& marker) {
    const qsizetype at = text.lastIndexOf(marker);
    return at < 0 ? -1 : text.mid(at + marker.size(), 8).toInt();
}

// The watching side of BM_LineToEveryOutput: prints "KIND sequence nanoseconds" the first time
// each output shows each sequence.
int RunWatcher(quint16 port, const QString& folder, int seconds, bool pollJson) {
    std::map<QByteArray, std::set<int>> seen;
    const auto note = [&](const QByteArray& kind, int sequence) {
        if (sequence > 0 && seen[kind].insert(sequence).second)
            std::printf("%s %d %lld\n", kind.constData(), sequence,
                        static_cast<long long>(CBenchMeasure::NowNs()));
    };
    const QByteArray field = "\"f000\":\"seq ";
    const QString base = QStringLiteral("127.0.0.1");
    QTcpSocket events;
    QByteArray eventBytes;
    QObject::connect(&events, &QTcpSocket::readyRead, [&] {
        eventBytes += events.readAll();
        note("events", SequenceAfter(eventBytes, field));
        eventBytes = eventBytes.right(4096);
    });
    events.connectToHost(base, port);
    events.write(QStringLiteral("GET /fields/events?code=%1 HTTP/1.1\r\nHost: x\r\n\r\n")
                     .arg(kCode)
                     .toLatin1());
    QWebSocket viewer;
    QObject::connect(&viewer, &QWebSocket::textMessageReceived, [&](const QString& message) {
        note("viewer", SequenceAfter(message.toLatin1(), "seq "));
    });
    viewer.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/ws?code=%2").arg(port).arg(kCode)));
    std::unique_ptr<QTcpSocket> json;
    QByteArray jsonBytes;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (json)
            return;
        json = std::make_unique<QTcpSocket>();
        jsonBytes.clear();
        QObject::connect(json.get(), &QTcpSocket::readyRead, [&] {
            jsonBytes += json->readAll();
            const qsizetype head = jsonBytes.indexOf("\r\n\r\n");
            const qsizetype length = jsonBytes.indexOf("Content-Length: ") + 16;
            if (head < 0 || length < 16)
                return;
            const qsizetype end = jsonBytes.indexOf('\r', length);
            if (jsonBytes.size() - head - 4 < jsonBytes.mid(length, end - length).toLongLong())
                return;
            note("json", SequenceAfter(jsonBytes, field));
            json.release()->deleteLater();
        });
        json->connectToHost(base, port);
        json->write(QStringLiteral("GET /fields.json?code=%1 HTTP/1.1\r\nHost: x\r\n\r\n")
                        .arg(kCode)
                        .toLatin1());
    });
    if (pollJson)
        poll.start(2);
    QTimer file;
    QObject::connect(&file, &QTimer::timeout, [&] {
        QFile text(folder + QStringLiteral("/f000.txt"));
        if (text.open(QIODevice::ReadOnly))
            note("file", SequenceAfter(text.readAll(), "seq "));
    });
    file.start(1);
    CBenchMeasure::Wait((seconds + 3) * 1000);
    return 0;
}

// The arrivals of one kind from RunWatcher's output, as "sequence nanoseconds" lines.
QByteArray ArrivalsOf(const QByteArray& output, const QByteArray& kind) {
    QByteArray lines;
    for (const QByteArray& line : output.split('\n'))
        if (line.startsWith(kind + ' '))
            lines += line.mid(kind.size() + 1) + '\n';
    return lines;
}

quint16 FreePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// One change written to the line 10 times a second on average for 12 s (about 115 changes), a whole
// station reading it as the window's would, with the fields folder and sharing on; each output
// watched from a second process.
void BM_LineToEveryOutput(benchmark::State& state) {
    for (auto _ : state) {
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("text"));
        QDir().mkpath(folder);
        QString error;
        if (!Definitions().Save(dir.filePath(QStringLiteral("fields.json")), &error)) {
            state.SkipWithError(error.toStdString().c_str());
            return;
        }
        PtyPair pty;
        const quint16 port = FreePort();
        const QString settings = dir.filePath(QStringLiteral("Tallyview.cfg"));
        WriteSettingsFile(settings, QString::fromStdString(pty.SlavePath()),
                          {{"journal", "off"},
                           {"share", "on"},
                           {"share_port", QString::number(port)},
                           {"share_code", kCode},
                           {"fields_folder", folder}});
        CStation station(settings);
        station.Load();
        if (!station.Port().IsOpen() || !station.StartSharing()) {
            state.SkipWithError("the station did not start");
            return;
        }
        constexpr int kWatchSeconds = 12;
        QProcess watcher;
        watcher.start(QCoreApplication::applicationFilePath(),
                      {"--watch", QString::number(port), folder, QString::number(kWatchSeconds),
                       QString::number(state.range(0))});
        CBenchMeasure::Wait(30000, [&] {
            return station.Share().FieldsStreamCount() == 1 && station.Share().ViewerCount() == 1;
        });
        CBenchMeasure::Wait(500);

        // 60 to 140 ms apart, 10 a second on average: a line in step with an output's own
        // clock would show only one phase of it.
        int fed = 0;
        std::map<int, qint64> written;
        std::mt19937 rng(29);
        QTimer line;
        line.setTimerType(Qt::PreciseTimer);
        line.setSingleShot(true);
        QObject::connect(&line, &QTimer::timeout, [&] {
            ++fed;
            char text[32];
            std::snprintf(text, sizeof text, "\x1b=  seq %08d", fed);
            written[fed] = CBenchMeasure::NowNs();
            pty.Write(text);
            line.start(int(60 + rng() % 81));
        });
        const double cpuBefore = CBenchMeasure::CpuSeconds();
        QElapsedTimer wall;
        wall.start();
        line.start(1000 / kChangesPerSecond);
        CBenchMeasure::Wait(kWatchSeconds * 1000 - 500);
        line.stop();
        const double cpuShare =
            (CBenchMeasure::CpuSeconds() - cpuBefore) / (wall.elapsed() / 1000.0);
        CBenchMeasure::Wait(30000, [&] { return watcher.state() == QProcess::NotRunning; });

        const QByteArray output = watcher.readAllStandardOutput();
        state.counters["changes"] = fed;
        for (const char* kind : {"events", "json", "file", "viewer"}) {
            const std::vector<double> ms =
                CBenchMeasure::ArrivalsMs(ArrivalsOf(output, kind), written);
            const std::string name = kind;
            state.counters[name + "_seen"] = static_cast<double>(ms.size());
            state.counters[name + "_p50_ms"] = CBenchMeasure::Quantile(ms, 0.5);
            state.counters[name + "_p99_ms"] = CBenchMeasure::Quantile(ms, 0.99);
        }
        state.counters["cpu_pct_of_core"] = 100.0 * cpuShare;
    }
}
BENCHMARK(BM_LineToEveryOutput)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

void BM_HundredEventStreamsTwoHundredFields(benchmark::State& state) {
    for (auto _ : state) {
        CTerminalScreen screen;
        CScreenClock clock(screen, [] { return true; });
        CFieldsFeed fields(clock.Changes());
        fields.SetDefinitions(Definitions());
        CShareServer server(clock.Changes(), fields);
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
    if (argc == 6 && QByteArray(argv[1]) == "--watch")
        return RunWatcher(static_cast<quint16>(QByteArray(argv[2]).toUInt()),
                          QString::fromLocal8Bit(argv[3]), QByteArray(argv[4]).toInt(),
                          QByteArray(argv[5]) == "1");
    if (argc == 5 && QByteArray(argv[1]) == "--clients")
        return RunClients(static_cast<quint16>(QByteArray(argv[2]).toUInt()),
                          QByteArray(argv[3]).toInt(), QByteArray(argv[4]).toInt());
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
