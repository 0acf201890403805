#include "PortTestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QThread>
#include <sys/fsuid.h>
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

bool CRecordingPort::OpenOn(const QString& device) {
    CPortSettings settings;
    settings.m_device = device;
    settings.m_baud = 115200;
    SetSettings(settings);
    SetProtocol(kTerminalProtocol);
    return Open();
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
