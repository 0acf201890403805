// The relay's throughput from a fast line: tallyview-relay, a real process, reads a tcp:// line
// that sends the sample game over and over as fast as loopback takes it, journals it and (in
// the second case) publishes it to a real mosquitto broker. Reports the line's rate until the
// journal holds every byte, and the relay's CPU per megabyte.
#include "CBenchMeasure.h"
#include "CMosquitto.h"
#include "CTtyrecReader.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <fstream>
#include <optional>

namespace {

constexpr qsizetype kBytes = 64 * 1024 * 1024;

QByteArray Line() {
    QFile sample(QStringLiteral(TALLYVIEW_SAMPLE_CAPTURE));
    sample.open(QIODevice::ReadOnly);
    const QByteArray game = sample.readAll();
    QByteArray line;
    while (line.size() < kBytes)
        line += game;
    line.truncate(kBytes);
    return line;
}

// Line bytes in the newest journal file so far, the screen record it starts with left out;
// reads on from where the last call stopped.
class CJournalProgress {
public:
    explicit CJournalProgress(QString folder) : m_folder(std::move(folder)) {}
    qint64 Bytes() {
        const QStringList files =
            QDir(m_folder).entryList({QStringLiteral("*.ttyrec")}, QDir::Files, QDir::Name);
        if (files.isEmpty())
            return 0;
        std::ifstream in(QDir(m_folder).filePath(files.last()).toStdString(), std::ios::binary);
        CTtyrecReader reader(in);
        reader.Seek(m_offset);
        CTtyrecRecord record;
        while (reader.Next(record)) {
            if (m_offset > 0)
                m_bytes += qint64(record.m_data.size());
            m_offset = reader.Offset();
        }
        return m_bytes;
    }

private:
    QString m_folder;
    std::uint64_t m_offset = 0;
    qint64 m_bytes = 0;
};

void BM_RelayFastLine(benchmark::State& state) {
    const bool publish = state.range(0) != 0;
    const QByteArray line = Line();
    for (auto _ : state) {
        QTemporaryDir dir;
        QStringList options{QStringLiteral("--journal"), dir.path()};
        std::optional<CMosquitto> broker;
        if (publish) {
            broker.emplace();
            if (!broker->Start()) {
                state.SkipWithError("mosquitto did not start");
                return;
            }
            options << QStringLiteral("--publish") << broker->Url(QStringLiteral("bench"));
        }
        QTcpServer server;
        server.listen(QHostAddress::LocalHost);
        options << QStringLiteral("--device")
                << QStringLiteral("tcp://127.0.0.1:%1").arg(server.serverPort());
        QProcess relay;
        relay.start(QStringLiteral(TALLYVIEW_RELAY), options);
        if (!CBenchMeasure::Wait(20000, [&] { return server.hasPendingConnections(); })) {
            state.SkipWithError("the relay did not connect");
            return;
        }
        QTcpSocket* socket = server.nextPendingConnection();
        CJournalProgress journal(dir.path());
        const QString relayStat = QStringLiteral("/proc/%1/stat").arg(relay.processId());
        const double cpuBefore = CBenchMeasure::StatCpuSeconds(relayStat);
        QElapsedTimer timer;
        timer.start();
        socket->write(line);
        const bool complete =
            CBenchMeasure::Wait(600000, [&] { return journal.Bytes() >= kBytes; });
        const double seconds = double(timer.nsecsElapsed()) / 1e9;
        const double cpu = CBenchMeasure::StatCpuSeconds(relayStat) - cpuBefore;
        state.SetIterationTime(seconds);
        relay.terminate();
        relay.waitForFinished(20000);
        if (!complete) {
            state.SkipWithError("the journal never held every byte");
            return;
        }
        const double megabytes = double(kBytes) / (1024 * 1024);
        state.counters["MiB_per_s"] = megabytes / seconds;
        state.counters["relay_cpu_ms_per_MiB"] = cpu * 1000 / megabytes;
        state.counters["exit_code"] = relay.exitCode();
        // Records the broker could not take in time and keyframes replaced.
        const QRegularExpression dropped(QStringLiteral("(\\d+) records dropped"));
        QRegularExpressionMatchIterator matches = dropped.globalMatch(relay.readAllStandardError());
        QString last = QStringLiteral("0");
        while (matches.hasNext())
            last = matches.next().captured(1);
        state.counters["records_dropped"] = last.toDouble();
    }
}
BENCHMARK(BM_RelayFastLine)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("publish")
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

} // namespace
