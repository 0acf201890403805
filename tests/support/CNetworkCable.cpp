#include "CNetworkCable.h"

#include <QProcess>
#include <QStandardPaths>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Within 198.18.0.0/15, kept for network tests: a /30 per process, ours .1, the far side .2.
QString Address(quint32 host) {
    return QStringLiteral("198.18.%1.%2").arg(host >> 8 & 0xff).arg(host & 0xff);
}

const char* const kCut = "add table inet cable; "
                         "add chain inet cable in { type filter hook input priority 0; "
                         "policy drop; }; "
                         "add chain inet cable out { type filter hook output priority 0; "
                         "policy drop; }";

// Runs the calling thread in another network namespace while it lives.
class CInNamespace {
public:
    explicit CInNamespace(const QString& name)
        : m_own(::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC)) {
        const int other =
            ::open(qPrintable(QStringLiteral("/run/netns/") + name), O_RDONLY | O_CLOEXEC);
        m_entered = m_own >= 0 && other >= 0 && ::setns(other, CLONE_NEWNET) == 0;
        if (other >= 0)
            ::close(other);
    }
    ~CInNamespace() {
        if (m_entered)
            ::setns(m_own, CLONE_NEWNET);
        if (m_own >= 0)
            ::close(m_own);
    }
    CInNamespace(const CInNamespace&) = delete;
    CInNamespace& operator=(const CInNamespace&) = delete;
    bool Entered() const { return m_entered; }

private:
    int m_own;
    bool m_entered = false;
};

} // namespace

QString CNetworkCable::Unavailable() {
    if (::geteuid() != 0)
        return QStringLiteral("needs root for a network namespace");
    for (const char* tool : {"ip", "nft"})
        if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
            return QStringLiteral("%1 is not installed").arg(QLatin1String(tool));
    return {};
}

CNetworkCable::CNetworkCable() {
    const auto pid = quint32(::getpid());
    m_namespace = QStringLiteral("tallyview-cable-%1").arg(pid);
    m_ourEnd = QStringLiteral("tvc%1a").arg(pid);
    const QString farEnd = QStringLiteral("tvc%1b").arg(pid);
    const quint32 block = (pid % 32768) * 4;
    m_farAddress = Address(block + 2);
    // Where no cable can be laid, the reason is the problem and nothing is tried.
    m_problem = Unavailable();
    if (!m_problem.isEmpty())
        return;
    const QStringList inside{QStringLiteral("-n"), m_namespace};
    const QList<QStringList> steps = {
        {QStringLiteral("netns"), QStringLiteral("add"), m_namespace},
        {QStringLiteral("link"), QStringLiteral("add"), m_ourEnd, QStringLiteral("type"),
         QStringLiteral("veth"), QStringLiteral("peer"), QStringLiteral("name"), farEnd,
         QStringLiteral("netns"), m_namespace},
        {QStringLiteral("addr"), QStringLiteral("add"), Address(block + 1) + QStringLiteral("/30"),
         QStringLiteral("dev"), m_ourEnd},
        {QStringLiteral("link"), QStringLiteral("set"), m_ourEnd, QStringLiteral("up")},
        inside + QStringList{QStringLiteral("addr"), QStringLiteral("add"),
                             m_farAddress + QStringLiteral("/30"), QStringLiteral("dev"), farEnd},
        inside + QStringList{QStringLiteral("link"), QStringLiteral("set"), farEnd,
                             QStringLiteral("up")},
    };
    for (const QStringList& step : steps)
        if (!Ip(step))
            break;
}

CNetworkCable::~CNetworkCable() {
    // The pair goes with the namespace; our end first in case a socket still holds it.
    const QString problem = m_problem;
    Ip({QStringLiteral("link"), QStringLiteral("del"), m_ourEnd});
    Ip({QStringLiteral("netns"), QStringLiteral("del"), m_namespace});
    m_problem = problem;
}

bool CNetworkCable::Ip(const QStringList& args) {
    QProcess ip;
    ip.setProcessChannelMode(QProcess::MergedChannels);
    ip.start(QStringLiteral("ip"), args);
    if (ip.waitForFinished(10000) && ip.exitStatus() == QProcess::NormalExit && ip.exitCode() == 0)
        return true;
    if (m_problem.isEmpty())
        m_problem =
            QStringLiteral("ip %1: %2")
                .arg(args.join(QLatin1Char(' ')), QString::fromLocal8Bit(ip.readAll()).trimmed());
    return false;
}

int CNetworkCable::ListenFar(quint16& port) const {
    const CInNamespace inside(m_namespace);
    if (!inside.Entered())
        return -1;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{AF_INET, 0, {}, {}};
    ::inet_pton(AF_INET, qPrintable(m_farAddress), &address.sin_addr);
    socklen_t size = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::listen(fd, 4) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    port = ntohs(address.sin_port);
    return fd;
}

bool CNetworkCable::RunFar(const std::function<void()>& action) const {
    const CInNamespace inside(m_namespace);
    if (inside.Entered())
        action();
    return inside.Entered();
}

bool CNetworkCable::Pull() {
    return Ip({QStringLiteral("netns"), QStringLiteral("exec"), m_namespace, QStringLiteral("nft"),
               QLatin1String(kCut)});
}

bool CNetworkCable::PlugIn() {
    return Ip({QStringLiteral("netns"), QStringLiteral("exec"), m_namespace, QStringLiteral("nft"),
               QStringLiteral("delete table inet cable")});
}
