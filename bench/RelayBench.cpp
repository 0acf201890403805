// The relay's throughput from a fast line: tallyview-relay, a real process, reads a tcp:// line
// that sends the sample game over and over as fast as loopback takes it, journals it and (in
// the second case) publishes it to a real mosquitto broker. Reports the line's rate until the
// journal holds every byte, and the relay's CPU per megabyte.
#include "CTtyrecReader.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <benchmark/benchmark.h>
#include <fstream>
#include <unistd.h>

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

double CpuSeconds(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return double(fields.at(11).toLongLong() + fields.at(12).toLongLong()) /
           double(sysconf(_SC_CLK_TCK));
}

bool Wait(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < timeoutMs) {
        QEventLoop pause;
        QTimer::singleShot(20, &pause, &QEventLoop::quit);
        pause.exec();
    }
    return done();
}

void BM_RelayFastLine(benchmark::State& state) {
    const bool publish = state.range(0) != 0;
    const QByteArray line = Line();
    for (auto _ : state) {
        QTemporaryDir dir;
        QProcess broker;
        QStringList options{QStringLiteral("--journal"), dir.path()};
        if (publish) {
            QTcpServer probe;
            probe.listen(QHostAddress::LocalHost);
            const quint16 port = probe.serverPort();
            probe.close();
            broker.start(QStringLiteral("mosquitto"),
                         {QStringLiteral("-p"), QString::number(port)});
            broker.waitForStarted();
            QTcpSocket up;
            Wait(
                [&] {
                    up.abort();
                    up.connectToHost(QHostAddress::LocalHost, port);
                    return up.waitForConnected(100);
                },
                10000);
            options << QStringLiteral("--publish")
                    << QStringLiteral("mqtt://127.0.0.1:%1/bench").arg(port);
        }
        QTcpServer server;
        server.listen(QHostAddress::LocalHost);
        options << QStringLiteral("--device")
                << QStringLiteral("tcp://127.0.0.1:%1").arg(server.serverPort());
        QProcess relay;
        relay.start(QStringLiteral(TALLYVIEW_RELAY), options);
        if (!Wait([&] { return server.hasPendingConnections(); }, 20000)) {
            state.SkipWithError("the relay did not connect");
            return;
        }
        QTcpSocket* socket = server.nextPendingConnection();
        CJournalProgress journal(dir.path());
        const double cpuBefore = CpuSeconds(relay.processId());
        QElapsedTimer timer;
        timer.start();
        socket->write(line);
        const bool complete = Wait([&] { return journal.Bytes() >= kBytes; }, 600000);
        const double seconds = double(timer.nsecsElapsed()) / 1e9;
        const double cpu = CpuSeconds(relay.processId()) - cpuBefore;
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
        broker.terminate();
        broker.waitForFinished();
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

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
