// Network lines: how fast a tcp:// and an rfc2217:// line bring a loopback server's stream into
// the port's receive buffer, and what the reader costs per megabyte; as root, how long a
// connection whose cable was pulled takes to be noticed.
#include "CBenchMeasure.h"
#include "CNetworkCable.h"
#include "CTnCommPort.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <arpa/inet.h>
#include <atomic>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

constexpr qsizetype kBlock = 64 * 1024;
constexpr quint64 kBytesPerIteration = 16 * 1024 * 1024;

// A port whose receive buffer takes every chunk and is emptied now and then.
class CCountingPort : public CTnCommPort {
public:
    ~CCountingPort() override { Close(); }
    quint64 Received() const { return m_received; }

protected:
    void HandleReceived(QByteArrayView chunk) override {
        m_buffer.append(chunk);
        if (m_buffer.size() >= kBlock * 16)
            m_buffer.clear();
        m_received += quint64(chunk.size());
    }

private:
    QByteArray m_buffer;
    std::atomic<quint64> m_received{0};
};

// A device server on loopback that sends as fast as the line takes it, every byte value, with
// the 0xFF doubled where it speaks Telnet. It keeps its own CPU time apart.
class CLoopbackServer {
public:
    explicit CLoopbackServer(bool telnet) : m_listen(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t size = sizeof address;
        ::bind(m_listen, reinterpret_cast<sockaddr*>(&address), size);
        ::listen(m_listen, 1);
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &size);
        m_port = ntohs(address.sin_port);
        for (qsizetype i = 0; i < kBlock; ++i) {
            m_block.append(char(i));
            if (telnet && char(i) == '\xff')
                m_block.append('\xff');
        }
        m_thread = std::thread([this] { Serve(); });
    }
    ~CLoopbackServer() {
        m_stop = true;
        if (m_client >= 0)
            ::shutdown(m_client, SHUT_RDWR);
        m_thread.join();
        ::close(m_listen);
    }
    quint16 Port() const { return m_port; }
    double CpuUsed() const { return m_cpu; }

private:
    void Serve() {
        pollfd pfd{m_listen, POLLIN, 0};
        while (!m_stop && ::poll(&pfd, 1, 100) <= 0) {
        }
        if (m_stop)
            return;
        m_client = ::accept(m_listen, nullptr, nullptr);
        while (!m_stop && ::send(m_client, m_block.data(), m_block.size(), MSG_NOSIGNAL) > 0)
            m_cpu = CBenchMeasure::CpuSeconds(RUSAGE_THREAD);
        ::close(m_client);
    }

    int m_listen;
    quint16 m_port = 0;
    QByteArray m_block;
    std::atomic<int> m_client{-1};
    std::atomic<bool> m_stop{false};
    std::atomic<double> m_cpu{0};
    std::thread m_thread;
};

bool OpenOn(CTnCommPort& port, const QString& device) {
    CPortSettings settings;
    settings.m_device = device;
    port.SetSettings(settings);
    return port.Open();
}

// MB/s of line data into the receive buffer; cpu_ms_per_MB: the reader's CPU (the process
// without the server's thread) per megabyte.
void BM_NetworkLineThroughput(benchmark::State& state, const char* scheme) {
    const bool telnet = QByteArrayView(scheme) == "rfc2217";
    CLoopbackServer server(telnet);
    CCountingPort port;
    if (!OpenOn(
            port,
            QStringLiteral("%1://127.0.0.1:%2").arg(QLatin1String(scheme)).arg(server.Port()))) {
        state.SkipWithError(qPrintable(port.LastError()));
        return;
    }
    const double processBefore = CBenchMeasure::CpuSeconds(RUSAGE_SELF);
    const double serverBefore = server.CpuUsed();
    quint64 target = port.Received();
    for (auto _ : state) {
        target += kBytesPerIteration;
        while (port.Received() < target)
            std::this_thread::sleep_for(1ms);
    }
    const double reader =
        CBenchMeasure::CpuSeconds(RUSAGE_SELF) - processBefore - (server.CpuUsed() - serverBefore);
    const double megabytes = double(state.iterations()) * kBytesPerIteration / (1024 * 1024);
    state.SetBytesProcessed(std::int64_t(state.iterations() * kBytesPerIteration));
    state.counters["cpu_ms_per_MB"] = reader * 1000 / megabytes;
    port.Close();
}
BENCHMARK_CAPTURE(BM_NetworkLineThroughput, tcp, "tcp")
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_NetworkLineThroughput, rfc2217, "rfc2217")
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// The time from the cable being pulled to the line saying it is away, over an idle connection.
void BM_PulledCableNoticed(benchmark::State& state) {
    for (auto _ : state) {
        CNetworkCable cable;
        quint16 tcpPort = 0;
        const int listening = cable.Problem().isEmpty() ? cable.ListenFar(tcpPort) : -1;
        CCountingPort port;
        if (listening < 0 ||
            !OpenOn(port, QStringLiteral("tcp://%1:%2").arg(cable.FarAddress()).arg(tcpPort))) {
            state.SkipWithError("no cable to pull here");
            break;
        }
        const int box = ::accept(listening, nullptr, nullptr);
        ::send(box, "x", 1, MSG_NOSIGNAL);
        while (port.Received() == 0)
            std::this_thread::sleep_for(1ms);
        cable.Pull();
        QElapsedTimer away;
        away.start();
        while (port.DeviceState() == CLineReader::State::Open && !away.hasExpired(60000))
            std::this_thread::sleep_for(10ms);
        state.SetIterationTime(double(away.nsecsElapsed()) / 1e9);
        port.Close();
        ::close(box);
        ::close(listening);
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (CNetworkCable::Unavailable().isEmpty())
        benchmark::RegisterBenchmark("BM_PulledCableNoticed", BM_PulledCableNoticed)
            ->Iterations(1)
            ->UseManualTime()
            ->Unit(benchmark::kSecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
