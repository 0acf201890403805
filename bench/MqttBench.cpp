// The screen published to MQTT under load: 1,000 subscribers of TOPIC/screen on one real
// mosquitto broker on loopback while the screen changes 10 times a second. Reports the time
// from bytes handed to the publisher to a subscriber having a screen that holds them (p50, p99,
// max; and p50 for the first subscriber to have each update, the broker's fan-out aside) and
// the publisher's CPU: its own thread's time per second of updates, the whole process's (which
// includes the subscribers, all on one thread) and the broker's.
#include "CBenchMeasure.h"
#include "CMosquitto.h"
#include "CMqttAddress.h"
#include "CMqttPublisher.h"
#include "CTerminalScreen.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mosquitto.h>
#include <sys/epoll.h>
#include <thread>
#include <vector>

namespace {

constexpr int kSubscribers = 1000;
constexpr int kUpdatesPerSecond = 10;
constexpr int kSeconds = 10;

// CPU seconds of this process's thread called `name`, 0 when there is none.
double ThreadCpuSeconds(const QByteArray& name) {
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(task + QStringLiteral("/comm")));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == name)
            return CBenchMeasure::StatCpuSeconds(tasks.filePath(task + QStringLiteral("/stat")));
    }
    return 0;
}

// Many subscribers of one topic, every session's socket in one epoll on a thread of their own.
// Each screen that carries "seq NNNNNNNN" is noted with the time it arrived.
class CSubscribers {
public:
    struct Arrival {
        int m_subscriber;
        int m_sequence;
        qint64 m_ns;
    };

    CSubscribers(quint16 port, QByteArray topic, int count)
        : m_port(port), m_topic(std::move(topic)), m_count(count), m_thread([this] { Run(); }) {}
    ~CSubscribers() { Stop(); }

    int Subscribed() const { return m_subscribed.load(); }
    void Stop() {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    // After Stop.
    const std::vector<Arrival>& Arrivals() const { return m_arrivals; }

private:
    struct Session {
        CSubscribers* m_owner;
        int m_index;
        mosquitto* m_mosq = nullptr;
    };

    void Run() {
        for (int i = 0; i < m_count; ++i) {
            Session& session = m_sessions.emplace_back(Session{this, i});
            session.m_mosq = mosquitto_new(nullptr, true, &session);
            mosquitto_connect_callback_set(session.m_mosq, &OnConnect);
            mosquitto_subscribe_callback_set(session.m_mosq, &OnSubscribe);
            mosquitto_message_callback_set(session.m_mosq, &OnMessage);
            if (mosquitto_connect(session.m_mosq, "127.0.0.1", m_port, 60) != MOSQ_ERR_SUCCESS)
                std::fprintf(stderr, "subscriber %d: %s\n", i, std::strerror(errno));
        }
        // Level-triggered: a socket with more than one message waiting is reported again.
        const int poller = epoll_create1(0);
        for (Session& session : m_sessions) {
            epoll_event interest{EPOLLIN, {.ptr = &session}};
            epoll_ctl(poller, EPOLL_CTL_ADD, mosquitto_socket(session.m_mosq), &interest);
        }
        std::vector<epoll_event> ready(256);
        qint64 lastWrite = 0;
        qint64 lastMisc = CBenchMeasure::NowNs();
        while (!m_stop) {
            const int n = epoll_wait(poller, ready.data(), static_cast<int>(ready.size()), 20);
            for (int i = 0; i < n; ++i)
                mosquitto_loop_read(static_cast<Session*>(ready[i].data.ptr)->m_mosq, 1);
            // What the library could not write at once (subscriptions, pings) goes now and then.
            if (CBenchMeasure::NowNs() - lastWrite > 50'000'000) {
                lastWrite = CBenchMeasure::NowNs();
                for (const Session& session : m_sessions)
                    if (mosquitto_want_write(session.m_mosq))
                        mosquitto_loop_write(session.m_mosq, 1);
            }
            if (CBenchMeasure::NowNs() - lastMisc > 1'000'000'000) {
                lastMisc = CBenchMeasure::NowNs();
                for (const Session& session : m_sessions)
                    mosquitto_loop_misc(session.m_mosq);
            }
        }
        close(poller);
        for (const Session& session : m_sessions) {
            mosquitto_disconnect(session.m_mosq);
            mosquitto_destroy(session.m_mosq);
        }
    }

    static void OnConnect(mosquitto* mosq, void* data, int code) {
        if (code == 0)
            mosquitto_subscribe(mosq, nullptr,
                                static_cast<Session*>(data)->m_owner->m_topic.constData(), 0);
    }
    static void OnSubscribe(mosquitto*, void* data, int, int, const int*) {
        ++static_cast<Session*>(data)->m_owner->m_subscribed;
    }
    static void OnMessage(mosquitto*, void* data, const mosquitto_message* message) {
        const qint64 now = CBenchMeasure::NowNs();
        const auto* session = static_cast<Session*>(data);
        const QByteArray payload = QByteArray::fromRawData(
            static_cast<const char*>(message->payload), message->payloadlen);
        const qsizetype at = payload.indexOf("seq ");
        if (at >= 0)
            session->m_owner->m_arrivals.push_back(
                {session->m_index, payload.mid(at + 4, 8).toInt(), now});
    }

    const quint16 m_port;
    const QByteArray m_topic;
    const int m_count;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_subscribed{0};
    std::deque<Session> m_sessions; // stable addresses: each is its session's user data
    std::vector<Arrival> m_arrivals;
    std::thread m_thread; // last: starts once the rest is made
};

// A board where a few rows change with every update, row 0 carrying the sequence.
std::string Update(int sequence) {
    char text[32];
    const int n = std::snprintf(text, sizeof text, "\x1b=  seq %08d", sequence);
    std::string bytes(text, static_cast<std::size_t>(n));
    for (int row = 0; row < 5; ++row) {
        bytes += "\x1b=";
        bytes += static_cast<char>(32 + 10 + (sequence + row) % 30);
        bytes += static_cast<char>(32);
        bytes += std::string(120, static_cast<char>('A' + (sequence + row) % 26));
    }
    return bytes;
}

struct Latencies {
    std::vector<double> m_all;   // every update at every subscriber
    std::vector<double> m_first; // every update at the first subscriber to have it
};

// For every update, each subscriber has it once a screen with it or a later one arrives.
Latencies LatenciesMs(const std::vector<CSubscribers::Arrival>& arrivals,
                      const std::map<int, qint64>& handed) {
    std::vector<int> seen(kSubscribers, 0);
    std::map<int, double> first;
    Latencies latencies;
    for (const CSubscribers::Arrival& arrival : arrivals) {
        int& last = seen[static_cast<std::size_t>(arrival.m_subscriber)];
        for (auto it = handed.upper_bound(last);
             it != handed.end() && it->first <= arrival.m_sequence; ++it) {
            const double ms = static_cast<double>(arrival.m_ns - it->second) / 1e6;
            latencies.m_all.push_back(ms);
            first.try_emplace(it->first, ms);
        }
        last = std::max(last, arrival.m_sequence);
    }
    for (const auto& [sequence, ms] : first)
        latencies.m_first.push_back(ms);
    std::sort(latencies.m_all.begin(), latencies.m_all.end());
    std::sort(latencies.m_first.begin(), latencies.m_first.end());
    return latencies;
}

double At(const std::vector<double>& sorted, double q) {
    return sorted.empty() ? -1.0 : sorted[static_cast<std::size_t>(q * (sorted.size() - 1))];
}

void BM_ThousandScreenSubscribers(benchmark::State& state) {
    for (auto _ : state) {
        CMosquitto broker;
        if (!broker.Start()) {
            state.SkipWithError("mosquitto did not start");
            return;
        }
        QString problem;
        const CMqttAddress address = CMqttAddress::Parse(broker.Url("bench"), problem);
        CTerminalScreen screen;
        CMqttPublisher publisher(address, screen);
        CSubscribers subscribers(broker.Port(), address.Topic("screen"), kSubscribers);
        CBenchMeasure::Wait(60000, [&] { return subscribers.Subscribed() == kSubscribers; });
        CBenchMeasure::Wait(
            10000, [&] { return publisher.StateLine().contains(QLatin1String("connected")); });
        const int subscribed = subscribers.Subscribed();

        std::map<int, qint64> handed; // sequence -> when its bytes went to the publisher
        QTimer feed;
        feed.setTimerType(Qt::PreciseTimer);
        QObject::connect(&feed, &QTimer::timeout, [&] {
            const int sequence = static_cast<int>(handed.size()) + 1;
            const std::string bytes = Update(sequence);
            handed[sequence] = CBenchMeasure::NowNs();
            publisher.Feed(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
        });
        const double threadBefore = ThreadCpuSeconds("publisher");
        const double processBefore = CBenchMeasure::CpuSeconds();
        const QString brokerStat = QStringLiteral("/proc/%1/stat").arg(broker.ProcessId());
        const double brokerBefore = CBenchMeasure::StatCpuSeconds(brokerStat);
        QElapsedTimer wall;
        wall.start();
        feed.start(1000 / kUpdatesPerSecond);
        CBenchMeasure::Wait(kSeconds * 1000);
        feed.stop();
        const double seconds = static_cast<double>(wall.elapsed()) / 1000.0;
        const double threadCpu = (ThreadCpuSeconds("publisher") - threadBefore) / seconds;
        const double processCpu = (CBenchMeasure::CpuSeconds() - processBefore) / seconds;
        const double brokerCpu =
            (CBenchMeasure::StatCpuSeconds(brokerStat) - brokerBefore) / seconds;
        CBenchMeasure::Wait(2000); // the last screens on their way
        subscribers.Stop();

        const Latencies latencies = LatenciesMs(subscribers.Arrivals(), handed);
        state.counters["subscribers"] = subscribed;
        state.counters["updates"] = static_cast<double>(handed.size());
        state.counters["screens_had"] = static_cast<double>(latencies.m_all.size());
        state.counters["p50_ms"] = At(latencies.m_all, 0.5);
        state.counters["p99_ms"] = At(latencies.m_all, 0.99);
        state.counters["max_ms"] = At(latencies.m_all, 1.0);
        state.counters["first_p50_ms"] = At(latencies.m_first, 0.5);
        state.counters["publisher_cpu_ms_per_s"] = 1000.0 * threadCpu;
        state.counters["process_cpu_ms_per_s"] = 1000.0 * processCpu;
        state.counters["broker_cpu_ms_per_s"] = 1000.0 * brokerCpu;
    }
}
BENCHMARK(BM_ThousandScreenSubscribers)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    // Every subscriber is a socket here and one at the broker, which inherits this limit.
    CBenchMeasure::RaiseFileLimit();
    QCoreApplication app(argc, argv);
    mosquitto_lib_init();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    mosquitto_lib_cleanup();
    return 0;
}
