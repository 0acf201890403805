// The relay over a long run, as a venue runs it: tallyview-relay reads the sample game, played
// over and over by tallyview-feed on a pseudo-terminal at eight times 115200 baud, journals it,
// serves it to 50 web viewers and publishes it to a local mosquitto broker, from which a second
// relay mirrors it into a journal of its own, and 10 fields consumers (this program started again
// with --fields-consumer) read the relay's fields as graphics templates do, from its event stream,
// the fields being bench/soak-fields.json over the sample game's board. Every minute it prints each
// process's resident memory and the CPU seconds it used in that minute, with the viewers' updates
// and the records the relay's journal took in it (one for each chunk the relay read) and the events
// each consumer took in it; at the end the bytes fed against the bytes in the relay's journal, the
// mirror's screen against the relay's (each as its journal restores it), and each consumer's last
// event against the fields the relay serves and those its journal's screen gives.
//
//     soak_bench [--minutes N] [--relay PATH]   (default 60, the relay built beside it)
#include "CBenchMeasure.h"
#include "CFieldValues.h"
#include "CJournalFolder.h"
#include "CMosquitto.h"
#include "CScreenCommands.h"
#include "CTerminalScreen.h"
#include "CTtyrecReader.h"

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
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QWebSocket>
#include <cstdio>
#include <fstream>
#include <memory>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

constexpr int kBaud = 8 * 115200;
constexpr qint64 kBytesPerSecond = kBaud / 10; // 8N1: ten bit times a byte
constexpr int kViewers = 50;
constexpr int kConsumers = 10;
constexpr int kAnswerMs = 20000;
constexpr int kStartMs = 20000;
const QString kCode = QStringLiteral("venue23456");
const QString kTopic = QStringLiteral("soak");

// One process whose memory and CPU are reported.
struct CMeasured {
    QString m_name;
    qint64 m_pid = 0;
    double m_cpuBefore = 0;

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
int RunConsumer(quint16 port) {
    QTcpSocket stream;
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

// The body of GET path from the relay's web view; empty when it does not answer.
QByteArray Get(quint16 port, const QString& path) {
    QNetworkAccessManager manager;
    std::unique_ptr<QNetworkReply> reply(manager.get(QNetworkRequest(
        QUrl(QStringLiteral("http://127.0.0.1:%1%2?code=%3").arg(port).arg(path, kCode)))));
    CBenchMeasure::Wait(kAnswerMs, [&] { return reply->isFinished(); });
    return reply->isFinished() && reply->error() == QNetworkReply::NoError ? reply->readAll()
                                                                           : QByteArray();
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
    void StartViewers();
    bool StartConsumers();
    QList<QByteArray> AskConsumers(const QByteArray& question);
    void Report(int minute);
    QJsonObject ServedFields() const;
    bool FieldsMatch();
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
    std::vector<std::unique_ptr<QWebSocket>> m_viewers;
    qint64 m_updates = 0;
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
    m_mirror.start(m_program,
                   {QStringLiteral("--device"), m_broker.Url(kTopic), QStringLiteral("--journal"),
                    m_dir.filePath(QStringLiteral("mirror"))});
    m_sharePort = FreePort();
    m_relay.start(m_program, {QStringLiteral("--device"), link, QStringLiteral("--baud"),
                              QString::number(kBaud), QStringLiteral("--journal"),
                              m_dir.filePath(QStringLiteral("journal")), QStringLiteral("--share"),
                              QString::number(m_sharePort), QStringLiteral("--share-code"), kCode,
                              QStringLiteral("--publish"), m_broker.Url(kTopic),
                              QStringLiteral("--fields"), QStringLiteral(TALLYVIEW_SOAK_FIELDS)});
    if (!WaitLogged(m_relay, m_relayLog, "Sharing the screen") ||
        !WaitLogged(m_relay, m_relayLog, "Fields from") ||
        !WaitLogged(m_mirror, m_mirrorLog, "Journal: writing")) {
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

void CSoak::StartViewers() {
    const QUrl url(QStringLiteral("ws://127.0.0.1:%1/ws?code=%2").arg(m_sharePort).arg(kCode));
    for (int i = 0; i < kViewers; ++i) {
        auto viewer = std::make_unique<QWebSocket>();
        QObject::connect(viewer.get(), &QWebSocket::textMessageReceived,
                         [this](const QString&) { ++m_updates; });
        viewer->open(url);
        m_viewers.push_back(std::move(viewer));
    }
}

bool CSoak::StartConsumers() {
    for (int i = 1; i <= kConsumers; ++i) {
        auto consumer = std::make_unique<QProcess>();
        consumer->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        consumer->start(QCoreApplication::applicationFilePath(),
                        {QStringLiteral("--fields-consumer"), QString::number(m_sharePort)});
        if (!consumer->waitForStarted(kStartMs)) {
            std::fprintf(stderr, "fields consumer %d did not start\n", i);
            return false;
        }
        m_consumersMeasured.push_back({QStringLiteral("fields%1").arg(i), consumer->processId()});
        m_consumersMeasured.back().CpuSinceLast();
        m_consumers.push_back(std::move(consumer));
    }
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
    for (CMeasured& measured : m_measured)
        line += measured.ResidentMb() == 0 ? QStringLiteral("  %1 ended").arg(measured.m_name)
                                           : QStringLiteral("  %1 %2 MB %3 s")
                                                 .arg(measured.m_name)
                                                 .arg(measured.ResidentMb(), 0, 'f', 1)
                                                 .arg(measured.CpuSinceLast(), 0, 'f', 2);
    line += QStringLiteral("  viewer updates %1  journal records %2")
                .arg(std::exchange(m_updates, 0))
                .arg(m_records.SinceLast());
    QString consumers = QStringLiteral("    fields consumers (MB, CPU s, events):");
    const QList<QByteArray> events = AskConsumers({});
    for (std::size_t i = 0; i < m_consumersMeasured.size(); ++i)
        consumers += QStringLiteral("  %1 %2 %3")
                         .arg(m_consumersMeasured[i].ResidentMb(), 0, 'f', 1)
                         .arg(m_consumersMeasured[i].CpuSinceLast(), 0, 'f', 2)
                         .arg(QString::fromLatin1(events[qsizetype(i)]));
    std::printf("%s\n%s\n", qPrintable(line), qPrintable(consumers));
    std::fflush(stdout);
}

// {"fields": {...}, "tables": {...}} as the relay serves them now, from /fields.json and each
// table's /tables/NAME.json.
QJsonObject CSoak::ServedFields() const {
    QString problem;
    const auto definitions =
        CFieldDefinitions::Load(QStringLiteral(TALLYVIEW_SOAK_FIELDS), &problem);
    QJsonObject tables;
    for (const CFieldDefinitions::Table& table : definitions.value_or(CFieldDefinitions()).m_tables)
        tables[table.m_name] =
            QJsonDocument::fromJson(
                Get(m_sharePort, QStringLiteral("/tables/%1.json").arg(table.m_name)))
                .array();
    const QJsonArray fields =
        QJsonDocument::fromJson(Get(m_sharePort, QStringLiteral("/fields.json"))).array();
    return {{QStringLiteral("fields"), fields.isEmpty() ? QJsonValue() : fields.first()},
            {QStringLiteral("tables"), tables}};
}

// Whether every consumer's last event holds the values the relay serves, and those current in
// it equal what the relay's journal's screen gives.
bool CSoak::FieldsMatch() {
    const QJsonObject served = ServedFields();
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
    for (auto& consumer : m_consumers)
        consumer->closeWriteChannel();
    Stop(m_relay);
    Stop(m_mirror);
    const bool same =
        JournalScreen(m_dir.filePath(QStringLiteral("mirror"))) == JournalScreen(journal);
    std::printf("feed %s; bytes fed %lld, in the relay's journal %lld%s; the mirror's screen %s "
                "the relay's; the fields consumers' last events %s the relay's fields\n",
                played ? "played to its end" : "did NOT finish", static_cast<long long>(m_fed),
                static_cast<long long>(JournalBytes(journal)), journalled ? "" : " (short)",
                same ? "equals" : "DIFFERS from", fields ? "equal" : "DIFFER from");
    std::printf("the relay's fields at the end (%d current entries in the consumers' last events "
                "checked against its journal's screen): %s\n",
                m_currentChecked,
                QJsonDocument(m_served[QStringLiteral("fields")].toObject())
                    .toJson(QJsonDocument::Compact)
                    .constData());
    return played && journalled && same && fields ? 0 : 1;
}

int CSoak::Run() {
    if (!StartProcesses())
        return 1;
    StartViewers();
    if (!StartConsumers())
        return 1;
    std::printf("relay pid %lld, mirror pid %lld; %d minutes at %d baud, %d viewers, %d fields "
                "consumers\n",
                static_cast<long long>(m_relay.processId()),
                static_cast<long long>(m_mirror.processId()), m_minutes, kBaud, kViewers,
                kConsumers);
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
    parser.addOptions({minutes, relay, consumer});
    parser.addHelpOption();
    parser.process(app);
    if (parser.isSet(consumer))
        return RunConsumer(parser.value(consumer).toUShort());
    bool ok = false;
    const int count = parser.value(minutes).toInt(&ok);
    if (!ok || count < 1) {
        std::fprintf(stderr, "--minutes takes a whole number above zero\n");
        return 2;
    }
    return CSoak(count, parser.value(relay)).Run();
}
