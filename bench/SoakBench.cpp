// The relay over a long run, as a venue runs it: tallyview-relay reads the sample game, played
// over and over by tallyview-feed on a pseudo-terminal at eight times 115200 baud, journals it,
// serves it to 50 web viewers and publishes it to a local mosquitto broker, from which a second
// relay mirrors it into a journal of its own and serves it over HTTPS to 20 viewers; 10 fields
// consumers of the relay and 5 of the mirror over TLS (this program started again with
// --fields-consumer) read the fields as graphics templates do, from the event stream, the fields
// being bench/soak-fields.json over the sample game's board. 20 clients stop reading once they
// have asked (an event stream or a viewer's upgrade; 10 of the relay, 10 of the mirror over TLS),
// and a viewer comes and another leaves every few seconds, on either. Every minute it prints each
// process's resident memory, the CPU seconds it used in that minute and its open descriptors,
// with the viewers' updates and the records the relay's journal took in it (one for each chunk
// the relay read) and the events each consumer took in it; at the end the bytes fed against the
// bytes in the relay's journal, the mirror's screen against the relay's (each as its journal
// restores it), the mirror's fields against the relay's, and each consumer's last event against
// the fields the relay serves and those its journal's screen gives.
//
//     soak_bench [--minutes N] [--relay PATH]   (default 60, the relay built beside it)
//
// With --league it measures a league's fan-out instead: venues' relays, each on a line played at
// line rate, publish into a 3-node nats-server cluster, and each venue's mirrors, each on a
// different node, serve web viewers and event streams (raw sockets of this process). It prints
// every process's CPU and memory, each node's messages a second, and the delay from a relay's
// reading a mark off its line to each viewer having it.
//
//     soak_bench --league [--venues N] [--mirrors N] [--viewers N] [--streams N] [--seconds N]
//                [--baud N]   (3 venues, 3 mirrors each, 300 viewers and 30 streams a mirror)
#include "CBenchMeasure.h"
#include "CFieldValues.h"
#include "CJournalFolder.h"
#include "CMosquitto.h"
#include "CNatsCluster.h"
#include "CScreenCommands.h"
#include "CTerminalScreen.h"
#include "CTtyrecReader.h"
#include "PortTestSupport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSocketNotifier>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebSocket>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <deque>
#include <fstream>
#include <map>
#include <memory>
#include <netinet/in.h>
#include <optional>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

constexpr int kBaud = 8 * 115200;
constexpr qint64 kBytesPerSecond = kBaud / 10; // 8N1: ten bit times a byte
constexpr int kViewers = 50;
constexpr int kSecureViewers = 20;
constexpr int kConsumers = 10;
constexpr int kSecureConsumers = 5;
constexpr int kStalled = 20; // half of them over TLS
// A viewer comes this often, on the relay and the mirror in turn, and each stays kChurnStay times
// as long.
constexpr int kChurnMs = 3000;
constexpr int kChurnStay = 4;
// Memory is held to be flat, within kFlatPercent, from this minute on.
constexpr int kSettledMinute = 5;
constexpr double kFlatPercent = 5;
constexpr int kAnswerMs = 20000;
constexpr int kStartMs = 20000;
const QString kCode = QStringLiteral("venue23456");
const QString kTopic = QStringLiteral("soak");

// One process whose memory and CPU are reported.
struct CMeasured {
    QString m_name;
    qint64 m_pid = 0;
    double m_cpuBefore = 0;
    double m_settledMb = 0; // at kSettledMinute, or the last minute of a shorter run
    double m_lastMb = 0;

    QString StatPath() const { return QStringLiteral("/proc/%1/stat").arg(m_pid); }
    // Resident memory in megabytes, from the kernel's VmRSS line.
    double ResidentMb() const {
        QFile status(QStringLiteral("/proc/%1/status").arg(m_pid));
        if (!status.open(QIODevice::ReadOnly))
            return 0;
        for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine())
            if (line.startsWith("VmRSS:"))
                return line.mid(6).trimmed().split(' ').first().toDouble() / 1024;
        return 0;
    }
    int Descriptors() const {
        return int(QDir(QStringLiteral("/proc/%1/fd").arg(m_pid))
                       .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System)
                       .size());
    }
    // CPU seconds since the last call.
    double CpuSinceLast() {
        const double now = CBenchMeasure::StatCpuSeconds(StatPath());
        const double used = now - m_cpuBefore;
        m_cpuBefore = now;
        return used;
    }
};

// The sample game over and over, cut at `bytes`: what the line carries in the run.
QString WriteLine(const QTemporaryDir& dir, qint64 bytes) {
    QFile sample(QStringLiteral(TALLYVIEW_SAMPLE_CAPTURE));
    sample.open(QIODevice::ReadOnly);
    const QByteArray game = sample.readAll();
    const QString path = dir.filePath(QStringLiteral("line.cap"));
    QFile line(path);
    line.open(QIODevice::WriteOnly);
    for (qint64 left = bytes; left > 0; left -= game.size())
        line.write(game.constData(), std::min<qint64>(left, game.size()));
    return path;
}

// Line bytes in every file of the journal, the screen record each file begins with left out.
qint64 JournalBytes(const QString& folder) {
    qint64 bytes = 0;
    for (const QString& name : QDir(folder).entryList({QStringLiteral("*.ttyrec")}, QDir::Files)) {
        std::ifstream in(QDir(folder).filePath(name).toStdString(), std::ios::binary);
        CTtyrecReader reader(in);
        CTtyrecRecord record;
        for (bool first = true; reader.Next(record); first = false)
            if (!first)
                bytes += qint64(record.m_data.size());
    }
    return bytes;
}

// The records (the line's chunks as the relay read them) its journal took since the last call,
// in its newest file: what the relay's work goes by, more than the bytes.
class CJournalRecords {
public:
    explicit CJournalRecords(QString folder) : m_folder(std::move(folder)) {}
    qint64 SinceLast() {
        const QStringList files =
            QDir(m_folder).entryList({QStringLiteral("*.ttyrec")}, QDir::Files, QDir::Name);
        if (files.isEmpty())
            return 0;
        if (files.last() != m_file) {
            m_file = files.last();
            m_offset = 0;
        }
        std::ifstream in(QDir(m_folder).filePath(m_file).toStdString(), std::ios::binary);
        CTtyrecReader reader(in);
        reader.Seek(m_offset);
        CTtyrecRecord record;
        qint64 count = 0;
        for (; reader.Next(record, false); m_offset = reader.Offset())
            ++count;
        return count;
    }

private:
    QString m_folder;
    QString m_file;
    std::uint64_t m_offset = 0;
};

void RestoreJournal(const QString& folder, CTerminalScreen& screen) {
    CJournalFolder(folder).Restore(screen, 24, QDateTime::currentDateTime());
}

std::string JournalScreen(const QString& folder) {
    CTerminalScreen screen;
    RestoreJournal(folder, screen);
    return CScreenCommands::Of(screen);
}

// Waits until the process has written `text` to standard error, keeping what it wrote in log.
bool WaitLogged(QProcess& process, QByteArray& log, const char* text) {
    return CBenchMeasure::Wait(kStartMs, [&] {
        log += process.readAllStandardError();
        return log.contains(text);
    });
}

quint16 FreePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

// One fields consumer, in a process of its own: an event-stream client of /fields/events as an
// HTML graphics template is. Each line on its standard input asks for the events it took since
// the last answer ("N", "N closed" once the stream ended), "last" for the last event's data; it
// ends with its input.
int RunConsumer(quint16 port, bool secure) {
    QSslSocket stream;
    QByteArray buffer;
    QByteArray last;
    qint64 events = 0;
    bool headed = false;
    QObject::connect(&stream, &QTcpSocket::readyRead, [&] {
        buffer += stream.readAll();
        if (!headed) {
            const qsizetype end = buffer.indexOf("\r\n\r\n");
            if (end < 0)
                return;
            buffer.remove(0, end + 4);
            headed = true;
        }
        for (qsizetype end; (end = buffer.indexOf("\n\n")) >= 0; buffer.remove(0, end + 2))
            if (buffer.startsWith("data: ")) {
                last = buffer.mid(6, end - 6);
                ++events;
            }
    });
    if (secure)
        stream.connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
    else
        stream.connectToHost(QStringLiteral("127.0.0.1"), port);
    stream.write(QStringLiteral("GET /fields/events?code=%1 HTTP/1.1\r\nHost: soak\r\n\r\n")
                     .arg(kCode)
                     .toLatin1());
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray asked;
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char chunk[256];
        const ssize_t got = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (got <= 0) {
            QCoreApplication::quit();
            return;
        }
        asked.append(chunk, got);
        for (qsizetype end; (end = asked.indexOf('\n')) >= 0; asked.remove(0, end + 1)) {
            const QByteArray answer =
                asked.startsWith("last")
                    ? last
                    : QByteArray::number(std::exchange(events, 0)) +
                          (stream.state() == QAbstractSocket::ConnectedState ? "" : " closed");
            std::printf("%s\n", answer.constData());
            std::fflush(stdout);
        }
    });
    return QCoreApplication::exec();
}

// The body of GET path from a relay's web view; empty when it does not answer.
QByteArray Get(const QString& scheme, quint16 port, const QString& path) {
    QNetworkAccessManager manager;
    std::unique_ptr<QNetworkReply> reply(manager.get(QNetworkRequest(QUrl(
        QStringLiteral("%1://127.0.0.1:%2%3?code=%4").arg(scheme).arg(port).arg(path, kCode)))));
    CBenchMeasure::Wait(kAnswerMs, [&] { return reply->isFinished(); });
    return reply->isFinished() && reply->error() == QNetworkReply::NoError ? reply->readAll()
                                                                           : QByteArray();
}

// A self-signed certificate for 127.0.0.1 (dir/soak.pem) and its key (dir/soak.key), which this
// process and its consumers trust.
bool MakeCertificate(const QTemporaryDir& dir) {
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                   "-nodes", "-days", "2", "-subj", "/CN=127.0.0.1", "-addext",
                   "subjectAltName=IP:127.0.0.1", "-keyout", dir.filePath("soak.key"), "-out",
                   dir.filePath("soak.pem")});
    return openssl.waitForFinished(20000) && openssl.exitCode() == 0;
}

void Trust(const QString& certificate) {
    QSslConfiguration trusting = QSslConfiguration::defaultConfiguration();
    trusting.setCaCertificates(QSslCertificate::fromPath(certificate));
    QSslConfiguration::setDefaultConfiguration(trusting);
}

// A client that asks and then never reads: its socket takes a few kilobytes and no more, so
// the server's writes back up behind it as behind a phone gone to sleep.
std::unique_ptr<QSslSocket> StalledClient(quint16 port, bool secure, bool viewer) {
    auto socket = std::make_unique<QSslSocket>();
    socket->setReadBufferSize(4096);
    if (secure)
        socket->connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
    else
        socket->connectToHost(QStringLiteral("127.0.0.1"), port);
    const QString request =
        viewer ? QStringLiteral("GET /ws?code=%1 HTTP/1.1\r\nHost: soak\r\nUpgrade: websocket\r\n"
                                "Connection: Upgrade\r\nSec-WebSocket-Key: "
                                "dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n")
               : QStringLiteral("GET /fields/events?code=%1 HTTP/1.1\r\nHost: soak\r\n\r\n");
    socket->write(request.arg(kCode).toLatin1());
    return socket;
}

void Stop(QProcess& process) {
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(20000))
        process.kill();
}

class CSoak {
public:
    CSoak(int minutes, QString relay) : m_minutes(minutes), m_program(std::move(relay)) {}
    ~CSoak() {
        for (auto& consumer : m_consumers)
            Stop(*consumer);
        for (QProcess* process : {&m_relay, &m_mirror, &m_feed})
            Stop(*process);
    }
    CSoak(const CSoak&) = delete;
    CSoak& operator=(const CSoak&) = delete;
    int Run();

private:
    bool StartProcesses();
    QUrl ViewerUrl(bool secure) const;
    void StartViewers();
    void StartStalled();
    void Churn();
    bool StartConsumers();
    bool StartConsumer(const QString& name, quint16 port, bool secure);
    QList<QByteArray> AskConsumers(const QByteArray& question);
    void Report(int minute);
    QJsonObject ServedFields(const QString& scheme, quint16 port) const;
    bool FieldsMatch();
    void PrintGrowth() const;
    int Finish();

    const int m_minutes;
    const QString m_program; // the relay's, for relay and mirror alike
    QTemporaryDir m_dir;
    qint64 m_fed = 0;
    CMosquitto m_broker;
    QProcess m_feed;
    QProcess m_relay;
    QProcess m_mirror;
    QByteArray m_relayLog;
    QByteArray m_mirrorLog;
    quint16 m_sharePort = 0;
    quint16 m_securePort = 0; // the mirror's, over HTTPS
    std::vector<std::unique_ptr<QWebSocket>> m_viewers;
    qint64 m_updates = 0;
    qint64 m_secureUpdates = 0;
    std::vector<std::unique_ptr<QSslSocket>> m_stalled;
    std::deque<std::unique_ptr<QWebSocket>> m_churning; // oldest first
    QTimer m_churn;
    qint64 m_churned = 0;   // viewers come and gone in the minute
    qint64 m_churnOpen = 0; // of those, how many the server took
    CJournalRecords m_records{m_dir.filePath(QStringLiteral("journal"))};
    std::vector<CMeasured> m_measured;
    std::vector<std::unique_ptr<QProcess>> m_consumers;
    std::vector<CMeasured> m_consumersMeasured;
    QJsonObject m_served;     // the fields as the relay served them at the last look
    int m_currentChecked = 0; // entries of the consumers' last events checked on the screen
};

bool CSoak::StartProcesses() {
    if (!m_broker.Start()) {
        std::fprintf(stderr, "mosquitto did not start\n");
        return false;
    }
    m_fed = kBytesPerSecond * 60 * m_minutes;
    const QString link = m_dir.filePath(QStringLiteral("line"));
    m_feed.start(QStringLiteral(TALLYVIEW_FEED),
                 {QStringLiteral("--baud"), QString::number(kBaud), QStringLiteral("--pty"), link,
                  WriteLine(m_dir, m_fed)});
    if (!CBenchMeasure::Wait(kStartMs, [&] { return QFile::exists(link); })) {
        std::fprintf(stderr, "the feed made no line\n");
        return false;
    }
    const QString mirrorSettings = m_dir.filePath(QStringLiteral("mirror.cfg"));
    if (!MakeCertificate(m_dir) ||
        !WriteSettingsFile(mirrorSettings, m_broker.Url(kTopic),
                           {{QStringLiteral("share_certificate"), m_dir.filePath("soak.pem")},
                            {QStringLiteral("share_key"), m_dir.filePath("soak.key")}})) {
        std::fprintf(stderr, "no certificate or settings for the mirror\n");
        return false;
    }
    Trust(m_dir.filePath(QStringLiteral("soak.pem")));
    m_securePort = FreePort();
    m_mirror.start(m_program,
                   {QStringLiteral("--settings"), mirrorSettings, QStringLiteral("--journal"),
                    m_dir.filePath(QStringLiteral("mirror")), QStringLiteral("--share"),
                    QString::number(m_securePort), QStringLiteral("--share-code"), kCode,
                    QStringLiteral("--fields"), QStringLiteral(TALLYVIEW_SOAK_FIELDS)});
    m_sharePort = FreePort();
    m_relay.start(m_program, {QStringLiteral("--device"), link, QStringLiteral("--baud"),
                              QString::number(kBaud), QStringLiteral("--journal"),
                              m_dir.filePath(QStringLiteral("journal")), QStringLiteral("--share"),
                              QString::number(m_sharePort), QStringLiteral("--share-code"), kCode,
                              QStringLiteral("--publish"), m_broker.Url(kTopic),
                              QStringLiteral("--fields"), QStringLiteral(TALLYVIEW_SOAK_FIELDS)});
    if (!WaitLogged(m_relay, m_relayLog, "Sharing the screen") ||
        !WaitLogged(m_relay, m_relayLog, "Fields from") ||
        !WaitLogged(m_mirror, m_mirrorLog, "Journal: writing") ||
        !WaitLogged(m_mirror, m_mirrorLog, "Sharing the screen at https")) {
        std::fprintf(stderr, "the relays did not start:\n%s\n%s\n", m_relayLog.constData(),
                     m_mirrorLog.constData());
        return false;
    }
    m_measured = {{QStringLiteral("relay"), m_relay.processId()},
                  {QStringLiteral("mirror"), m_mirror.processId()},
                  {QStringLiteral("feed"), m_feed.processId()},
                  {QStringLiteral("mosquitto"), m_broker.ProcessId()},
                  {QStringLiteral("bench+viewers"), QCoreApplication::applicationPid()}};
    for (CMeasured& measured : m_measured)
        measured.CpuSinceLast();
    m_records.SinceLast();
    return true;
}

QUrl CSoak::ViewerUrl(bool secure) const {
    return QUrl(QStringLiteral("%1://127.0.0.1:%2/ws?code=%3")
                    .arg(secure ? QStringLiteral("wss") : QStringLiteral("ws"))
                    .arg(secure ? m_securePort : m_sharePort)
                    .arg(kCode));
}

void CSoak::StartViewers() {
    for (int i = 0; i < kViewers + kSecureViewers; ++i) {
        const bool secure = i >= kViewers;
        auto viewer = std::make_unique<QWebSocket>();
        QObject::connect(
            viewer.get(), &QWebSocket::textMessageReceived,
            [this, secure](const QString&) { ++(secure ? m_secureUpdates : m_updates); });
        viewer->open(ViewerUrl(secure));
        m_viewers.push_back(std::move(viewer));
    }
}

void CSoak::StartStalled() {
    for (int i = 0; i < kStalled; ++i) {
        const bool secure = i >= kStalled / 2;
        m_stalled.push_back(StalledClient(secure ? m_securePort : m_sharePort, secure, i % 2 == 1));
    }
}

// A viewer comes, on the relay and the mirror in turn, and the oldest of those that came leaves.
void CSoak::Churn() {
    auto viewer = std::make_unique<QWebSocket>();
    QObject::connect(viewer.get(), &QWebSocket::connected, [this] { ++m_churnOpen; });
    viewer->open(ViewerUrl(m_churned++ % 2 == 1));
    m_churning.push_back(std::move(viewer));
    if (int(m_churning.size()) > kChurnStay) {
        m_churning.front()->close();
        m_churning.front().release()->deleteLater();
        m_churning.pop_front();
    }
}

bool CSoak::StartConsumers() {
    for (int i = 1; i <= kConsumers + kSecureConsumers; ++i) {
        const bool secure = i > kConsumers;
        const QString name = secure ? QStringLiteral("tls%1").arg(i - kConsumers)
                                    : QStringLiteral("fields%1").arg(i);
        if (!StartConsumer(name, secure ? m_securePort : m_sharePort, secure))
            return false;
    }
    return true;
}

bool CSoak::StartConsumer(const QString& name, quint16 port, bool secure) {
    auto consumer = std::make_unique<QProcess>();
    consumer->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QStringList arguments{QStringLiteral("--fields-consumer"), QString::number(port)};
    if (secure)
        arguments << QStringLiteral("--trust") << m_dir.filePath(QStringLiteral("soak.pem"));
    consumer->start(QCoreApplication::applicationFilePath(), arguments);
    if (!consumer->waitForStarted(kStartMs)) {
        std::fprintf(stderr, "fields consumer %s did not start\n", qPrintable(name));
        return false;
    }
    m_consumersMeasured.push_back({name, consumer->processId()});
    m_consumersMeasured.back().CpuSinceLast();
    m_consumers.push_back(std::move(consumer));
    return true;
}

// Every consumer's answer to the question, in order; an empty answer from one that gave none.
QList<QByteArray> CSoak::AskConsumers(const QByteArray& question) {
    QList<QByteArray> answers;
    for (auto& consumer : m_consumers) {
        consumer->write(question + '\n');
        QByteArray answer;
        CBenchMeasure::Wait(kAnswerMs, [&] {
            answer += consumer->readAllStandardOutput();
            return answer.endsWith('\n');
        });
        answers << answer.trimmed();
    }
    return answers;
}

void CSoak::Report(int minute) {
    QString line = QStringLiteral("minute %1").arg(minute, 3);
    for (CMeasured& measured : m_measured) {
        measured.m_lastMb = measured.ResidentMb();
        if (minute == std::min(kSettledMinute, m_minutes))
            measured.m_settledMb = measured.m_lastMb;
        line += measured.ResidentMb() == 0 ? QStringLiteral("  %1 ended").arg(measured.m_name)
                                           : QStringLiteral("  %1 %2 MB %3 s %4 fd")
                                                 .arg(measured.m_name)
                                                 .arg(measured.ResidentMb(), 0, 'f', 1)
                                                 .arg(measured.CpuSinceLast(), 0, 'f', 2)
                                                 .arg(measured.Descriptors());
    }
    line += QStringLiteral("  viewer updates %1 (over TLS %2)  viewers come and gone %3 (taken "
                           "%4)  journal records %5")
                .arg(std::exchange(m_updates, 0))
                .arg(std::exchange(m_secureUpdates, 0))
                .arg(std::exchange(m_churned, 0))
                .arg(std::exchange(m_churnOpen, 0))
                .arg(m_records.SinceLast());
    QString consumers = QStringLiteral("    fields consumers (MB, CPU s, events):");
    const QList<QByteArray> events = AskConsumers({});
    for (std::size_t i = 0; i < m_consumersMeasured.size(); ++i)
        consumers += QStringLiteral("  %1 %2 %3 %4")
                         .arg(m_consumersMeasured[i].m_name)
                         .arg(m_consumersMeasured[i].ResidentMb(), 0, 'f', 1)
                         .arg(m_consumersMeasured[i].CpuSinceLast(), 0, 'f', 2)
                         .arg(QString::fromLatin1(events[qsizetype(i)]));
    std::printf("%s\n%s\n", qPrintable(line), qPrintable(consumers));
    std::fflush(stdout);
}

// {"fields": {...}, "tables": {...}} as the relay serves them now, from /fields.json and each
// table's /tables/NAME.json.
QJsonObject CSoak::ServedFields(const QString& scheme, quint16 port) const {
    QString problem;
    const auto definitions =
        CFieldDefinitions::Load(QStringLiteral(TALLYVIEW_SOAK_FIELDS), &problem);
    QJsonObject tables;
    for (const CFieldDefinitions::Table& table : definitions.value_or(CFieldDefinitions()).m_tables)
        tables[table.m_name] =
            QJsonDocument::fromJson(
                Get(scheme, port, QStringLiteral("/tables/%1.json").arg(table.m_name)))
                .array();
    const QJsonArray fields =
        QJsonDocument::fromJson(Get(scheme, port, QStringLiteral("/fields.json"))).array();
    return {{QStringLiteral("fields"), fields.isEmpty() ? QJsonValue() : fields.first()},
            {QStringLiteral("tables"), tables}};
}

// Whether every consumer's last event holds the values the relay serves, and those current in
// it equal what the relay's journal's screen gives.
bool CSoak::FieldsMatch() {
    const QJsonObject served = ServedFields(QStringLiteral("http"), m_sharePort);
    QString problem;
    CFieldValues onScreen(
        CFieldDefinitions::Load(QStringLiteral(TALLYVIEW_SOAK_FIELDS), &problem).value());
    CTerminalScreen screen;
    RestoreJournal(m_dir.filePath(QStringLiteral("journal")), screen);
    onScreen.Update(screen);
    const QJsonObject fromJournal = QJsonDocument::fromJson(onScreen.ToJson()).object();
    bool match = true;
    m_served = served;
    m_currentChecked = 0;
    for (const QByteArray& last : AskConsumers("last")) {
        const QJsonObject event = QJsonDocument::fromJson(last).object();
        match = match && event[QStringLiteral("fields")] == served[QStringLiteral("fields")] &&
                event[QStringLiteral("tables")] == served[QStringLiteral("tables")];
        const QJsonObject current = event[QStringLiteral("current")].toObject();
        for (auto it = current.begin(); it != current.end(); ++it)
            if (it->toBool() && ++m_currentChecked)
                for (const QString& group : {QStringLiteral("fields"), QStringLiteral("tables")})
                    match = match && event[group].toObject()[it.key()] ==
                                         fromJournal[group].toObject()[it.key()];
    }
    return match;
}

// Each process's resident memory from the settled minute to the last, against kFlatPercent.
void CSoak::PrintGrowth() const {
    QString line = QStringLiteral("resident memory from minute %1 to minute %2:")
                       .arg(std::min(kSettledMinute, m_minutes))
                       .arg(m_minutes);
    for (const CMeasured& measured : m_measured) {
        if (measured.m_settledMb == 0 || measured.m_lastMb == 0)
            continue;
        const double percent = 100 * (measured.m_lastMb / measured.m_settledMb - 1);
        line += QStringLiteral("  %1 %2 to %3 MB (%4%5%)%6")
                    .arg(measured.m_name)
                    .arg(measured.m_settledMb, 0, 'f', 1)
                    .arg(measured.m_lastMb, 0, 'f', 1)
                    .arg(percent < 0 ? QString() : QStringLiteral("+"))
                    .arg(percent, 0, 'f', 1)
                    .arg(percent > kFlatPercent ? QStringLiteral(" NOT FLAT") : QString());
    }
    std::printf("%s\n", qPrintable(line));
}

int CSoak::Finish() {
    // The feed ends once the relay has read its last byte.
    const bool played =
        CBenchMeasure::Wait(120000, [&] { return m_feed.state() == QProcess::NotRunning; });
    const QString journal = m_dir.filePath(QStringLiteral("journal"));
    const bool journalled =
        CBenchMeasure::Wait(60000, [&] { return JournalBytes(journal) >= m_fed; });
    // The mirror follows through the broker: it holds the relay's screen a moment later.
    const std::string relayScreen = JournalScreen(journal);
    CBenchMeasure::Wait(30000, [&] {
        return JournalScreen(m_dir.filePath(QStringLiteral("mirror"))) == relayScreen;
    });
    // The last change reaches the consumers a tick after the relay has it.
    const bool fields = CBenchMeasure::Wait(30000, [&] { return FieldsMatch(); });
    const bool mirrorFields = ServedFields(QStringLiteral("https"), m_securePort) == m_served;
    for (auto& consumer : m_consumers)
        consumer->closeWriteChannel();
    Stop(m_relay);
    Stop(m_mirror);
    const bool same =
        JournalScreen(m_dir.filePath(QStringLiteral("mirror"))) == JournalScreen(journal);
    std::printf("feed %s; bytes fed %lld, in the relay's journal %lld%s; the mirror's screen %s "
                "the relay's; the mirror's fields over HTTPS %s the relay's; the fields "
                "consumers' last events %s the relay's fields\n",
                played ? "played to its end" : "did NOT finish", static_cast<long long>(m_fed),
                static_cast<long long>(JournalBytes(journal)), journalled ? "" : " (short)",
                same ? "equals" : "DIFFERS from", mirrorFields ? "equal" : "DIFFER from",
                fields ? "equal" : "DIFFER from");
    std::printf("the relay's fields at the end (%d current entries in the consumers' last events "
                "checked against its journal's screen): %s\n",
                m_currentChecked,
                QJsonDocument(m_served[QStringLiteral("fields")].toObject())
                    .toJson(QJsonDocument::Compact)
                    .constData());
    PrintGrowth();
    return played && journalled && same && mirrorFields && fields ? 0 : 1;
}

int CSoak::Run() {
    if (!StartProcesses())
        return 1;
    StartViewers();
    StartStalled();
    if (!StartConsumers())
        return 1;
    QObject::connect(&m_churn, &QTimer::timeout, [this] { Churn(); });
    m_churn.start(kChurnMs);
    std::printf("relay pid %lld, mirror pid %lld; %d minutes at %d baud, %d viewers and %d fields "
                "consumers of the relay, %d viewers and %d fields consumers of the mirror over "
                "HTTPS, %d clients that stop reading (half over TLS), a viewer coming and one "
                "going every %d ms\n",
                static_cast<long long>(m_relay.processId()),
                static_cast<long long>(m_mirror.processId()), m_minutes, kBaud, kViewers,
                kConsumers, kSecureViewers, kSecureConsumers, kStalled, kChurnMs);
    std::fflush(stdout);
    for (int minute = 1; minute <= m_minutes; ++minute) {
        CBenchMeasure::Wait(60000);
        Report(minute);
    }
    return Finish();
}

// ---- The league: venues publishing into a nats-server cluster, mirrors fanning out. ----

// How large a league the run plays (soak_bench --league [--venues N] [--mirrors N] ...).
struct CLeagueScale {
    int m_venues = 3;
    int m_mirrors = 3; // of each venue, each on a different node
    int m_viewers = 300;
    int m_streams = 30;
    int m_seconds = 60;
    int m_baud = 115200;
};

constexpr int kLeagueNodes = 3;
constexpr int kMarkRow = 41; // a row the sample game leaves all but blank
constexpr int kMarksPerSecond = 10;
constexpr int kLineSeconds = 900; // the line runs past any start-up and measurement
constexpr int kOpenMs = 180000;
const QByteArray kMark = QByteArrayLiteral("seq ");
constexpr int kMarkDigits = 8;

qint64 RealNowNs() {
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    return qint64(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

// The sequence after "seq " at `at` in text, 0 when the digits are not all there.
int MarkAt(const QByteArray& text, qsizetype at) {
    bool ok = false;
    const int sequence = text.mid(at + kMark.size(), kMarkDigits).toInt(&ok);
    return ok && text.size() >= at + kMark.size() + kMarkDigits ? sequence : 0;
}

// The sample game over and over for kLineSeconds at `baud`, with "seq NNNNNNNN" written on row
// kMarkRow about kMarksPerSecond times a second, each just before the game moves its cursor
// itself, so the game's own rows are left as they were.
QString WriteMarkedLine(const QTemporaryDir& dir, int venue, int baud) {
    QFile sample(QStringLiteral(TALLYVIEW_SAMPLE_CAPTURE));
    sample.open(QIODevice::ReadOnly);
    const QByteArray game = sample.readAll();
    const qint64 total = qint64(baud) / 10 * kLineSeconds;
    const qint64 gap = qint64(baud) / 10 / kMarksPerSecond;
    QByteArray line;
    line.reserve(total + total / gap * 16);
    int sequence = 0;
    for (qint64 at = 0, lastMark = 0; qint64(line.size()) < total; ++at) {
        const qsizetype i = qsizetype(at % game.size());
        if (game.at(i) == '\x1b' && game.mid(i, 2) == "\x1b=" && line.size() - lastMark >= gap) {
            line += "\x1b=" + QByteArray(1, char(32 + kMarkRow)) + ' ' + kMark +
                    QByteArray::number(++sequence).rightJustified(kMarkDigits, '0');
            lastMark = line.size();
        }
        line += game.at(i);
    }
    const QString path = dir.filePath(QStringLiteral("line%1.cap").arg(venue));
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(line);
    return path;
}

// When each mark reached the relay, by its journal (the time of the chunk that completed it),
// and how many records (chunks read off the line) it took between from and to.
struct CMarkTimes {
    std::map<int, qint64> m_ns; // sequence -> Unix time in nanoseconds
    qint64 m_records = 0;
};

CMarkTimes MarkTimes(const QString& folder, qint64 fromNs, qint64 toNs) {
    CMarkTimes times;
    for (const QString& name :
         QDir(folder).entryList({QStringLiteral("*.ttyrec")}, QDir::Files, QDir::Name)) {
        std::ifstream in(QDir(folder).filePath(name).toStdString(), std::ios::binary);
        CTtyrecReader reader(in);
        CTtyrecRecord record;
        QByteArray carry; // the last bytes of the record before, where a mark may begin
        for (bool first = true; reader.Next(record); first = false) {
            if (first)
                continue; // the screen the file begins with, not the line
            const qint64 ns = qint64(record.m_time.time_since_epoch().count()) * 1000;
            times.m_records += ns >= fromNs && ns < toNs;
            const QByteArray text = carry + QByteArray::fromStdString(record.m_data);
            for (qsizetype at = text.indexOf(kMark); at >= 0; at = text.indexOf(kMark, at + 1))
                if (const int sequence = MarkAt(text, at))
                    times.m_ns.try_emplace(sequence, ns);
            carry = text.right(kMark.size() + kMarkDigits);
        }
    }
    return times;
}

// The mirrors' web viewers (/ws) and event-stream clients (/fields/events) as raw sockets, every
// one in one epoll on a thread of its own, so thousands cost this process little. A viewer notes
// each mark it sees after the last it saw; a stream counts its events.
class CWebClients {
public:
    struct Arrival {
        int m_client;
        int m_sequence;
        qint64 m_ns; // Unix time
    };

    ~CWebClients() { Stop(); }
    // Before Start.
    void Add(int venue, quint16 port, bool stream) {
        m_clients.push_back({venue, port, stream, -1, false, 0, {}});
    }
    int Venue(int client) const { return m_clients[std::size_t(client)].m_venue; }
    void Start() {
        m_thread = std::thread([this] { Run(); });
    }
    int Open() const { return m_open.load(); }
    int Closed() const { return m_closed.load(); }
    qint64 Events() const { return m_events.load(); }
    void Measure(bool on) { m_measuring = on; }
    void Stop() {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    // After Stop.
    const std::vector<Arrival>& Arrivals() const { return m_arrivals; }

private:
    struct Client {
        int m_venue;
        quint16 m_port;
        bool m_stream;
        int m_fd = -1;
        bool m_open = false;
        int m_last = 0;
        QByteArray m_carry;
    };

    static int Connect(quint16 port) {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            close(fd);
            return -1;
        }
        return fd;
    }

    void Run() {
        const int poller = epoll_create1(0);
        for (std::size_t i = 0; i < m_clients.size() && !m_stop; ++i) {
            Client& client = m_clients[i];
            client.m_fd = Connect(client.m_port);
            if (client.m_fd < 0) {
                ++m_closed;
                continue;
            }
            const QByteArray request =
                (client.m_stream
                     ? QStringLiteral("GET /fields/events?code=%1 HTTP/1.1\r\nHost: league\r\n\r\n")
                     : QStringLiteral("GET /ws?code=%1 HTTP/1.1\r\nHost: league\r\nUpgrade: "
                                      "websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: "
                                      "dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: "
                                      "13\r\n\r\n"))
                    .arg(kCode)
                    .toLatin1();
            (void)!::write(client.m_fd, request.constData(), std::size_t(request.size()));
            epoll_event interest{EPOLLIN, {.u64 = i}};
            epoll_ctl(poller, EPOLL_CTL_ADD, client.m_fd, &interest);
            if (i % 50 == 49) // in steps, as people arrive
                Poll(poller, 20);
        }
        while (!m_stop)
            Poll(poller, 20);
        close(poller);
        for (const Client& client : m_clients)
            if (client.m_fd >= 0)
                close(client.m_fd);
    }

    void Poll(int poller, int timeoutMs) {
        epoll_event ready[256];
        const int n = epoll_wait(poller, ready, 256, timeoutMs);
        for (int i = 0; i < n; ++i)
            Read(poller, int(ready[i].data.u64));
    }

    void Read(int poller, int index) {
        Client& client = m_clients[std::size_t(index)];
        char chunk[65536];
        const ssize_t got = ::read(client.m_fd, chunk, sizeof chunk);
        if (got <= 0) {
            epoll_ctl(poller, EPOLL_CTL_DEL, client.m_fd, nullptr);
            close(client.m_fd);
            client.m_fd = -1;
            ++m_closed;
            return;
        }
        const qint64 now = RealNowNs();
        const QByteArray text = client.m_carry + QByteArray(chunk, got);
        if (!client.m_open &&
            (text.startsWith("HTTP/1.1 101") || text.startsWith("HTTP/1.1 200"))) {
            client.m_open = true;
            ++m_open;
        }
        if (client.m_stream) {
            m_events += text.count("\ndata: ") - client.m_carry.count("\ndata: ");
        } else {
            for (qsizetype at = text.indexOf(kMark); at >= 0; at = text.indexOf(kMark, at + 1)) {
                const int sequence = MarkAt(text, at);
                if (sequence > client.m_last) {
                    if (m_measuring)
                        m_arrivals.push_back({index, sequence, now});
                    client.m_last = sequence;
                }
            }
        }
        client.m_carry = text.right(kMark.size() + kMarkDigits);
    }

    std::vector<Client> m_clients;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_measuring{false};
    std::atomic<int> m_open{0};
    std::atomic<int> m_closed{0};
    std::atomic<qint64> m_events{0};
    std::vector<Arrival> m_arrivals;
    std::thread m_thread;
};

// One process of the league, its log and what it costs.
struct CLeagueProcess {
    std::unique_ptr<QProcess> m_process = std::make_unique<QProcess>();
    QByteArray m_log;
    CMeasured m_measured;
};

class CLeague {
public:
    CLeague(const CLeagueScale& scale, QString relay)
        : m_scale(scale), m_program(std::move(relay)), m_cluster(kLeagueNodes) {}
    ~CLeague() {
        m_clients.Stop();
        for (auto* group : {&m_mirrors, &m_relays, &m_feeds})
            for (CLeagueProcess& process : *group)
                Stop(*process.m_process);
    }
    CLeague(const CLeague&) = delete;
    CLeague& operator=(const CLeague&) = delete;
    int Run();

private:
    bool StartVenue(int venue);
    bool StartMirror(int venue, int mirror);
    bool Started(CLeagueProcess& process, const QString& name, const char* text);
    void Measure();
    void PrintLatencies(qint64 fromNs, qint64 toNs) const;
    void PrintCosts(double seconds) const;

    const CLeagueScale m_scale;
    const QString m_program;
    QTemporaryDir m_dir;
    CNatsCluster m_cluster;
    std::vector<CLeagueProcess> m_feeds;
    std::vector<CLeagueProcess> m_relays; // one a venue
    std::vector<CLeagueProcess> m_mirrors;
    std::vector<CMeasured> m_nodes;
    CMeasured m_bench;
    CWebClients m_clients;
};

QString Topic(int venue) {
    return QStringLiteral("league/venue%1").arg(venue + 1);
}

bool CLeague::Started(CLeagueProcess& process, const QString& name, const char* text) {
    process.m_measured = {name, process.m_process->processId()};
    if (WaitLogged(*process.m_process, process.m_log, text))
        return true;
    std::fprintf(stderr, "%s did not start:\n%s\n", qPrintable(name), process.m_log.constData());
    return false;
}

// A venue: its line played by tallyview-feed at line rate, and its relay journalling it and
// publishing to its own node first, the next one after.
bool CLeague::StartVenue(int venue) {
    const QString link = m_dir.filePath(QStringLiteral("line%1").arg(venue));
    CLeagueProcess& feed = m_feeds.emplace_back();
    feed.m_process->start(QStringLiteral(TALLYVIEW_FEED),
                          {QStringLiteral("--baud"), QString::number(m_scale.m_baud),
                           QStringLiteral("--pty"), link,
                           WriteMarkedLine(m_dir, venue, m_scale.m_baud)});
    feed.m_measured = {QStringLiteral("feed%1").arg(venue + 1), feed.m_process->processId()};
    if (!CBenchMeasure::Wait(kStartMs, [&] { return QFile::exists(link); })) {
        std::fprintf(stderr, "the feed made no line\n");
        return false;
    }
    CLeagueProcess& relay = m_relays.emplace_back();
    relay.m_process->start(
        m_program,
        {QStringLiteral("--device"), link, QStringLiteral("--baud"),
         QString::number(m_scale.m_baud), QStringLiteral("--journal"),
         m_dir.filePath(QStringLiteral("journal%1").arg(venue)), QStringLiteral("--publish"),
         m_cluster.Url({venue % kLeagueNodes, (venue + 1) % kLeagueNodes}, Topic(venue))});
    return Started(relay, QStringLiteral("relay%1").arg(venue + 1), ": connected");
}

// A mirror of the venue, keeping no journal, each of the venue's mirrors on a different node
// first (the one after its relay's, then the next), serving its viewers and event streams.
bool CLeague::StartMirror(int venue, int mirror) {
    const int node = (venue + 1 + mirror) % kLeagueNodes;
    const quint16 port = FreePort();
    CLeagueProcess& process = m_mirrors.emplace_back();
    process.m_process->start(m_program,
                             {QStringLiteral("--device"),
                              m_cluster.Url({node, (node + 1) % kLeagueNodes}, Topic(venue)),
                              QStringLiteral("--no-journal"), QStringLiteral("--share"),
                              QString::number(port), QStringLiteral("--share-code"), kCode,
                              QStringLiteral("--fields"), QStringLiteral(TALLYVIEW_SOAK_FIELDS)});
    for (int i = 0; i < m_scale.m_viewers + m_scale.m_streams; ++i)
        m_clients.Add(venue, port, i >= m_scale.m_viewers);
    return Started(process, QStringLiteral("mirror%1.%2").arg(venue + 1).arg(mirror + 1),
                   "Sharing the screen");
}

// Every viewer's delay from the relay's reading a mark off the line to the viewer having it
// (or a later one: a mark overwritten before a viewer's update was sent reached it as well).
void CLeague::PrintLatencies(qint64 fromNs, qint64 toNs) const {
    std::vector<CMarkTimes> marks;
    qint64 records = 0;
    for (int venue = 0; venue < m_scale.m_venues; ++venue) {
        marks.push_back(
            MarkTimes(m_dir.filePath(QStringLiteral("journal%1").arg(venue)), fromNs, toNs));
        records += marks.back().m_records;
    }
    std::map<int, int> last; // client -> the last mark counted
    std::vector<double> ms;
    qint64 expected = 0;
    for (const CWebClients::Arrival& arrival : m_clients.Arrivals()) {
        const std::map<int, qint64>& times =
            marks[std::size_t(m_clients.Venue(arrival.m_client))].m_ns;
        const auto seen = last.try_emplace(arrival.m_client, arrival.m_sequence - 1).first;
        for (auto it = times.upper_bound(seen->second);
             it != times.end() && it->first <= arrival.m_sequence; ++it)
            ms.push_back(double(arrival.m_ns - it->second) / 1e6);
        seen->second = arrival.m_sequence;
    }
    for (const CMarkTimes& venue : marks)
        for (const auto& [sequence, ns] : venue.m_ns)
            expected += ns >= fromNs && ns < toNs;
    std::sort(ms.begin(), ms.end());
    const double seconds = double(toNs - fromNs) / 1e9;
    std::printf("line to viewer: %zu marks had by viewers (%lld marks read by the relays in the "
                "window, each for %d viewers): p50 %.1f ms, p99 %.1f ms, max %.1f ms\n"
                "chunks the relays read off their lines: %.1f a second a venue\n",
                ms.size(), static_cast<long long>(expected), m_scale.m_mirrors * m_scale.m_viewers,
                CBenchMeasure::Quantile(ms, 0.5), CBenchMeasure::Quantile(ms, 0.99),
                CBenchMeasure::Quantile(ms, 1.0), double(records) / seconds / m_scale.m_venues);
}

// CPU (percent of one core), resident memory and descriptors of every process, and by kind.
void CLeague::PrintCosts(double seconds) const {
    struct Sum {
        double m_cpu = 0;
        double m_mb = 0;
        int m_count = 0;
    };
    std::map<QString, Sum> kinds;
    const auto print = [&](CMeasured measured, const QString& kind) {
        const double cpu = 100 * measured.CpuSinceLast() / seconds;
        const double mb = measured.ResidentMb();
        std::printf("  %-12s cpu %5.1f%%  rss %6.1f MB  %5d fd\n", qPrintable(measured.m_name), cpu,
                    mb, measured.Descriptors());
        Sum& sum = kinds[kind];
        sum.m_cpu += cpu;
        sum.m_mb += mb;
        ++sum.m_count;
    };
    for (const CLeagueProcess& p : m_feeds)
        print(p.m_measured, QStringLiteral("feeds"));
    for (const CLeagueProcess& p : m_relays)
        print(p.m_measured, QStringLiteral("relays"));
    for (const CLeagueProcess& p : m_mirrors)
        print(p.m_measured, QStringLiteral("mirrors"));
    for (const CMeasured& node : m_nodes)
        print(node, QStringLiteral("nats nodes"));
    CMeasured self = m_bench;
    print(self, QStringLiteral("bench (clients)"));
    for (const auto& [kind, sum] : kinds)
        std::printf("  all %-16s (%2d): cpu %6.1f%%  rss %7.1f MB\n", qPrintable(kind), sum.m_count,
                    sum.m_cpu, sum.m_mb);
}

// A nats-server node's counters (/varz of its monitoring port); empty when it does not answer.
QJsonObject Varz(const QString& monitor) {
    QNetworkAccessManager manager;
    std::unique_ptr<QNetworkReply> reply(
        manager.get(QNetworkRequest(QUrl(QStringLiteral("http://%1/varz").arg(monitor)))));
    CBenchMeasure::Wait(kAnswerMs, [&] { return reply->isFinished(); });
    return QJsonDocument::fromJson(reply->isFinished() ? reply->readAll() : QByteArray()).object();
}

// Messages and bytes a second a node took in and sent out (clients' and routes' alike), and
// its client connections.
void PrintTraffic(const QString& name, const QJsonObject& before, const QJsonObject& after,
                  double seconds) {
    const auto rate = [&](const char* key) {
        const QString k = QString::fromLatin1(key);
        return (after[k].toDouble() - before[k].toDouble()) / seconds;
    };
    std::printf("  %-12s in %7.0f msg/s %8.1f KB/s, out %7.0f msg/s %8.1f KB/s, %d connections\n",
                qPrintable(name), rate("in_msgs"), rate("in_bytes") / 1000, rate("out_msgs"),
                rate("out_bytes") / 1000, after[QStringLiteral("connections")].toInt());
}

QString LoadAverage() {
    QFile file(QStringLiteral("/proc/loadavg"));
    file.open(QIODevice::ReadOnly);
    return QString::fromLatin1(file.readAll().trimmed());
}

int CLeague::Run() {
    if (!m_cluster.Start()) {
        std::fprintf(stderr, "the cluster did not start:\n%s\n", qPrintable(m_cluster.Logs()));
        return 1;
    }
    for (int node = 0; node < kLeagueNodes; ++node)
        m_nodes.push_back({QStringLiteral("nats%1").arg(node + 1), m_cluster.ProcessId(node)});
    m_relays.reserve(std::size_t(m_scale.m_venues));
    m_feeds.reserve(std::size_t(m_scale.m_venues));
    m_mirrors.reserve(std::size_t(m_scale.m_venues * m_scale.m_mirrors));
    for (int venue = 0; venue < m_scale.m_venues; ++venue)
        if (!StartVenue(venue))
            return 1;
    for (int venue = 0; venue < m_scale.m_venues; ++venue)
        for (int mirror = 0; mirror < m_scale.m_mirrors; ++mirror)
            if (!StartMirror(venue, mirror))
                return 1;
    const int clients =
        m_scale.m_venues * m_scale.m_mirrors * (m_scale.m_viewers + m_scale.m_streams);
    m_clients.Start();
    if (!CBenchMeasure::Wait(kOpenMs,
                             [&] { return m_clients.Open() + m_clients.Closed() == clients; }) ||
        m_clients.Closed() > 0)
        std::fprintf(stderr, "of %d web clients %d open, %d refused or closed\n", clients,
                     m_clients.Open(), m_clients.Closed());
    CBenchMeasure::Wait(5000); // every viewer has had its first screen
    std::printf("%d venues at %d baud into %d nats-server nodes; %d mirrors a venue, each with %d "
                "viewers and %d event streams (%d viewers, %d streams in all); %d s measured\n"
                "load average before: %s\n",
                m_scale.m_venues, m_scale.m_baud, kLeagueNodes, m_scale.m_mirrors,
                m_scale.m_viewers, m_scale.m_streams,
                m_scale.m_venues * m_scale.m_mirrors * m_scale.m_viewers,
                m_scale.m_venues * m_scale.m_mirrors * m_scale.m_streams, m_scale.m_seconds,
                qPrintable(LoadAverage()));
    std::fflush(stdout);
    Measure();
    return 0;
}

void CLeague::Measure() {
    for (auto* group : {&m_feeds, &m_relays, &m_mirrors})
        for (CLeagueProcess& process : *group)
            process.m_measured.CpuSinceLast();
    for (CMeasured& node : m_nodes)
        node.CpuSinceLast();
    m_bench = {QStringLiteral("bench"), QCoreApplication::applicationPid()};
    m_bench.CpuSinceLast();
    const qint64 events = m_clients.Events();
    std::vector<QJsonObject> varz;
    for (int node = 0; node < kLeagueNodes; ++node)
        varz.push_back(Varz(m_cluster.Monitor(node)));
    const qint64 from = RealNowNs();
    QElapsedTimer wall;
    wall.start();
    m_clients.Measure(true);
    CBenchMeasure::Wait(m_scale.m_seconds * 1000);
    m_clients.Measure(false);
    const qint64 to = RealNowNs();
    const double seconds = double(wall.elapsed()) / 1000;
    std::printf("load average after: %s\n", qPrintable(LoadAverage()));
    PrintCosts(seconds);
    for (int node = 0; node < kLeagueNodes; ++node)
        PrintTraffic(m_nodes[std::size_t(node)].m_name, varz[std::size_t(node)],
                     Varz(m_cluster.Monitor(node)), seconds);
    std::printf("event streams: %.1f events a second each; web clients open %d, closed %d\n",
                double(m_clients.Events() - events) / seconds /
                    std::max(1, m_scale.m_venues * m_scale.m_mirrors * m_scale.m_streams),
                m_clients.Open(), m_clients.Closed());
    // The last marks on their way, then the clients gone before the latencies are read.
    CBenchMeasure::Wait(2000);
    m_clients.Stop();
    PrintLatencies(from, to);
}

// A whole number above zero from the option, or nullopt after saying so.
std::optional<int> Count(const QCommandLineParser& parser, const QCommandLineOption& option) {
    bool ok = false;
    const int count = parser.value(option).toInt(&ok);
    if (ok && count >= 1)
        return count;
    std::fprintf(stderr, "--%s takes a whole number above zero\n",
                 qPrintable(option.names().first()));
    return std::nullopt;
}

int RunLeague(const QCommandLineParser& parser, const std::vector<QCommandLineOption>& options,
              const QString& relay) {
    CLeagueScale scale;
    int* fields[] = {&scale.m_venues,  &scale.m_mirrors, &scale.m_viewers,
                     &scale.m_streams, &scale.m_seconds, &scale.m_baud};
    for (std::size_t i = 0; i < options.size(); ++i) {
        const std::optional<int> count = Count(parser, options[i]);
        if (!count)
            return 2;
        *fields[i] = *count;
    }
    // Every web client is a socket here and one at its mirror.
    CBenchMeasure::RaiseFileLimit();
    return CLeague(scale, relay).Run();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption minutes(QStringLiteral("minutes"),
                                     QStringLiteral("How long the line plays (default 60)."),
                                     QStringLiteral("N"), QStringLiteral("60"));
    const QCommandLineOption relay(QStringLiteral("relay"),
                                   QStringLiteral("The relay program to measure (another build)."),
                                   QStringLiteral("PATH"), QStringLiteral(TALLYVIEW_RELAY));
    const QCommandLineOption consumer(
        QStringLiteral("fields-consumer"),
        QStringLiteral("Run as one fields consumer of the relay on PORT."), QStringLiteral("PORT"));
    const QCommandLineOption trust(
        QStringLiteral("trust"),
        QStringLiteral("As a fields consumer, over TLS, trusting the certificate in FILE."),
        QStringLiteral("FILE"));
    const QCommandLineOption league(
        QStringLiteral("league"),
        QStringLiteral("Measure a league's fan-out through a 3-node nats-server cluster instead."));
    const CLeagueScale scale;
    const auto number = [](const char* name, const char* what, int value) {
        return QCommandLineOption(QString::fromLatin1(name),
                                  QStringLiteral("With --league: %1 (default %2).")
                                      .arg(QString::fromLatin1(what))
                                      .arg(value),
                                  QStringLiteral("N"), QString::number(value));
    };
    const std::vector<QCommandLineOption> leagueOptions{
        number("venues", "venues, each a line, a relay and its mirrors", scale.m_venues),
        number("mirrors", "mirrors of each venue", scale.m_mirrors),
        number("viewers", "web viewers of each mirror", scale.m_viewers),
        number("streams", "event-stream clients of each mirror", scale.m_streams),
        number("seconds", "seconds measured", scale.m_seconds),
        number("baud", "the lines' baud rate", scale.m_baud)};
    parser.addOptions({minutes, relay, consumer, trust, league});
    for (const QCommandLineOption& option : leagueOptions)
        parser.addOption(option);
    parser.addHelpOption();
    parser.process(app);
    if (parser.isSet(trust))
        Trust(parser.value(trust));
    if (parser.isSet(consumer))
        return RunConsumer(parser.value(consumer).toUShort(), parser.isSet(trust));
    if (parser.isSet(league))
        return RunLeague(parser, leagueOptions, parser.value(relay));
    const std::optional<int> count = Count(parser, minutes);
    return count ? CSoak(*count, parser.value(relay)).Run() : 2;
}
