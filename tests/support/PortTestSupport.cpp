#include "PortTestSupport.h"

#include "CSettingsArchive.h"
#include "CTnCommPort.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTcpServer>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <memory>
#include <sys/fsuid.h>
#include <sys/resource.h>
#include <unistd.h>

bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
    return true;
}

namespace {
constexpr uid_t kNobody = 65534;
}

CUnprivilegedFiles::CUnprivilegedFiles() : m_dropped(geteuid() == 0) {
    if (!m_dropped)
        return;
    setfsgid(kNobody);
    setfsuid(kNobody);
}

CUnprivilegedFiles::~CUnprivilegedFiles() {
    if (!m_dropped)
        return;
    setfsuid(0);
    setfsgid(0);
}

bool CRecordingPort::HandleTerminalData(char ch) {
    {
        const std::lock_guard lock(m_mutex);
        m_seen += ch;
    }
    return CTerminalPort::HandleTerminalData(ch);
}

std::string CRecordingPort::Seen() const {
    const std::lock_guard lock(m_mutex);
    return m_seen;
}

bool WriteSettingsFile(const QString& path, const QString& device,
                       const QList<QPair<QString, QString>>& options) {
    CPortSettings settings;
    settings.m_device = device;
    CTnCommPort port;
    port.SetSettings(settings);
    for (const auto& [key, value] : options)
        port.SetOption(key, value);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    CSettingsArchive archive(file, CSettingsArchive::Mode::Store);
    port.Serialize(archive);
    return !archive.Failed();
}

bool OpenTerminalPort(CTerminalPort& port, const QString& device) {
    CPortSettings settings;
    settings.m_device = device;
    settings.m_baud = 115200;
    port.SetSettings(settings);
    port.SetProtocol(CTerminalPort::kTerminalProtocol);
    return port.Open();
}

CSocatLine::CSocatLine(const QString& link) : m_link(link) {}

CSocatLine::~CSocatLine() {
    Stop();
}

bool CSocatLine::Start() {
    m_process.start(QStringLiteral("socat"),
                    {QStringLiteral("STDIO"), QStringLiteral("pty,rawer,link=") + m_link});
    return m_process.waitForStarted() && WaitUntil([this] { return QFileInfo::exists(m_link); });
}

void CSocatLine::Stop() {
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    m_process.waitForFinished();
}

void CSocatLine::Write(const QByteArray& bytes) {
    m_process.write(bytes);
    m_process.waitForBytesWritten();
}

quint16 FreeTcpPort() {
    // Below the range the kernel hands out for connections and port 0, so nobody is given the
    // port between this check and the server that listens on it; each process starts at its
    // own place in the range, so runs side by side keep apart.
    int ephemeral = 32768;
    QFile range(QStringLiteral("/proc/sys/net/ipv4/ip_local_port_range"));
    if (range.open(QIODevice::ReadOnly))
        ephemeral = range.readAll().simplified().split(' ').constFirst().toInt();
    constexpr int kLowest = 10000;
    const int span = std::max(ephemeral - kLowest, 1);
    static int next = static_cast<int>(QCoreApplication::applicationPid() * 97 % span);
    for (int tries = 0; tries < span; ++tries) {
        const auto port = static_cast<quint16>(kLowest + next++ % span);
        if (QTcpServer server; server.listen(QHostAddress::LocalHost, port))
            return port;
    }
    return 0;
}

QString Stty(const std::string& device) {
    QProcess stty;
    stty.start(QStringLiteral("stty"),
               {QStringLiteral("-a"), QStringLiteral("-F"), QString::fromStdString(device)});
    stty.waitForFinished();
    return QString::fromLocal8Bit(stty.readAllStandardOutput());
}

int HttpStatus(const QString& url) {
    QNetworkAccessManager manager;
    const std::unique_ptr<QNetworkReply> reply(manager.get(QNetworkRequest(QUrl(url))));
    WaitUntil([&] { return reply->isFinished(); });
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

double CpuWhileIdle(int ms) {
    const auto cpuSeconds = [] {
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
        return seconds(usage.ru_utime) + seconds(usage.ru_stime);
    };
    const double before = cpuSeconds();
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    return cpuSeconds() - before;
}

CSer2Net::CSer2Net(const QString& device, const QString& dir)
    : m_device(device), m_config(dir + QStringLiteral("/ser2net.yaml")) {
    static const char* const kAccepterTexts[] = {"tcp", "telnet(rfc2217),tcp", "telnet,tcp"};
    QString yaml;
    for (int a = 0; a < kAccepters; ++a) {
        m_ports[a] = FreeTcpPort();
        yaml += QStringLiteral("connection: &line%1\n"
                               "  accepter: %2,127.0.0.1,%3\n"
                               "  connector: serialdev,%4,115200n81,local\n"
                               "  options:\n"
                               "    kickolduser: true\n")
                    .arg(a)
                    .arg(QLatin1String(kAccepterTexts[a]))
                    .arg(m_ports[a])
                    .arg(device);
    }
    QFile file(m_config);
    if (file.open(QIODevice::WriteOnly))
        file.write(yaml.toUtf8());
}

CSer2Net::~CSer2Net() {
    Stop();
}

bool CSer2Net::Start() {
    // -n: stay in the foreground, -u: no UUCP lock files.
    m_process.start(QStringLiteral("ser2net"),
                    {QStringLiteral("-n"), QStringLiteral("-u"), QStringLiteral("-c"), m_config,
                     QStringLiteral("-P"), m_config + QStringLiteral(".pid")});
    return m_process.waitForStarted() && WaitUntil([this] { return Listening(); });
}

bool CSer2Net::Listening() const {
    // A probe connection would make it open the device; the kernel's socket table does not.
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (!table.open(QIODevice::ReadOnly))
        return false;
    const QByteArray listening = QStringLiteral(":%1 00000000:0000 0A")
                                     .arg(m_ports[kAccepters - 1], 4, 16, QLatin1Char('0'))
                                     .toUpper()
                                     .toLatin1();
    return table.readAll().contains(listening);
}

bool CSer2Net::DeviceInUse() const {
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(m_process.processId()));
    for (const QFileInfo& fd : fds.entryInfoList(QDir::System | QDir::NoDotAndDotDot))
        if (fd.symLinkTarget() == m_device)
            return true;
    return false;
}

void CSer2Net::Stop() {
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    m_process.waitForFinished();
}

QString CSer2Net::Address(Accepter accepter) const {
    return QStringLiteral("%1://127.0.0.1:%2")
        .arg(accepter == Raw ? QStringLiteral("tcp") : QStringLiteral("rfc2217"))
        .arg(m_ports[accepter]);
}
