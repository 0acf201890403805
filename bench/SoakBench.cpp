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
#include "CBenchMeasure.h"
#include "CFieldValues.h"
#include "CJournalFolder.h"
#include "CMosquitto.h"
#include "CScreenCommands.h"
#include "CTerminalScreen.h"
#include "CTtyrecReader.h"
#include "PortTestSupport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
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
#include <cstdio>
#include <deque>
#include <fstream>
#include <memory>
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
    parser.addOptions({minutes, relay, consumer, trust});
    parser.addHelpOption();
    parser.process(app);
    if (parser.isSet(trust))
        Trust(parser.value(trust));
    if (parser.isSet(consumer))
        return RunConsumer(parser.value(consumer).toUShort(), parser.isSet(trust));
    bool ok = false;
    const int count = parser.value(minutes).toInt(&ok);
    if (!ok || count < 1) {
        std::fprintf(stderr, "--minutes takes a whole number above zero\n");
        return 2;
    }
    return CSoak(count, parser.value(relay)).Run();
}
