#include "CCaptureRecorder.h"

#include <cerrno>
#include <cstring>

#ifndef Q_OS_WIN
#include <csignal>
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>
#endif

namespace {

QString ErrnoText() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

// Never waits for a pipe's reader, neither to open nor to write.
bool OpenTarget(QFile& file, QString& error) {
#ifdef Q_OS_WIN
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        return true;
    error = file.errorString();
    return false;
#else
    const int handle = ::open(QFile::encodeName(file.fileName()).constData(),
                              O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0666);
    if (handle < 0) {
        error = ErrnoText();
        return false;
    }
    return file.open(handle, QIODevice::WriteOnly | QIODevice::Unbuffered,
                     QFileDevice::AutoCloseHandle);
#endif
}

// What the file took of `bytes` at once (0 when it takes nothing now), or -1 with the reason.
qint64 WriteSome(QFile& file, QByteArrayView bytes, QString& error) {
#ifdef Q_OS_WIN
    const qint64 written = file.write(bytes.data(), bytes.size());
    if (written < 0)
        error = file.errorString();
    return written;
#else
    for (;;) {
        const ssize_t written = ::write(file.handle(), bytes.data(), size_t(bytes.size()));
        if (written >= 0)
            return written;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        if (errno != EINTR) {
            error = ErrnoText();
            return -1;
        }
    }
#endif
}

} // namespace

std::unique_ptr<CCaptureRecorder> CCaptureRecorder::Open(const QString& path, QString& error) {
    auto file = std::make_unique<QFile>(path);
    if (!OpenTarget(*file, error))
        return nullptr;
    return std::unique_ptr<CCaptureRecorder>(new CCaptureRecorder(std::move(file)));
}

CCaptureRecorder::CCaptureRecorder(std::unique_ptr<QFile> file)
    : CLineFollower({QStringLiteral("capture"), kMaxBacklog, kWriteInterval, {}}),
      m_file(std::move(file)) {
    Start();
}

CCaptureRecorder::~CCaptureRecorder() {
    Finish();
}

QString CCaptureRecorder::Close() {
    Finish();
    return Problem();
}

bool CCaptureRecorder::Failed() const {
    const std::lock_guard lock(m_statusMutex);
    return !m_error.isEmpty();
}

QString CCaptureRecorder::Problem() const {
    const std::lock_guard lock(m_statusMutex);
    if (!m_error.isEmpty())
        return m_error;
    if (m_leftOut > 0)
        return QStringLiteral("%1 bytes left out: the file did not take them in time")
            .arg(m_leftOut);
    return {};
}

QString CCaptureRecorder::StateLine() const {
    const QString problem = Problem();
    return problem.isEmpty() ? QString() : QStringLiteral("Recording: ") + problem;
}

void CCaptureRecorder::Begin() {
#ifndef Q_OS_WIN
    // A pipe whose reader went away then fails this thread's write instead of ending the program.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
#endif
}

void CCaptureRecorder::End() {
    WriteOut();
    Dropped(quint64(m_out.size()));
    m_out.clear();
    m_file->close();
}

void CCaptureRecorder::Follow(const Chunk& chunk) {
    if (!m_file->isOpen())
        return;
    if (m_out.size() + chunk.m_bytes.size() > kMaxBacklog)
        Dropped(quint64(chunk.m_bytes.size()));
    else
        m_out.append(chunk.m_bytes);
}

void CCaptureRecorder::Followed() {
    WriteOut();
}

void CCaptureRecorder::Dropped(quint64 bytes) {
    if (bytes == 0)
        return;
    const std::lock_guard lock(m_statusMutex);
    m_leftOut += bytes;
}

void CCaptureRecorder::WriteOut() {
    QString error;
    qsizetype done = 0;
    while (m_file->isOpen() && done < m_out.size()) {
        const qint64 written = WriteSome(*m_file, QByteArrayView(m_out).sliced(done), error);
        if (written < 0)
            Fail(error);
        if (written <= 0)
            break;
        done += written;
        m_written += quint64(written);
    }
    m_out.remove(0, done);
}

void CCaptureRecorder::Fail(const QString& reason) {
    m_file->close();
    m_out.clear();
    const std::lock_guard lock(m_statusMutex);
    m_error = reason;
}
