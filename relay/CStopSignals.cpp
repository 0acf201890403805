#include "CStopSignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

CStopSignals* g_instance = nullptr;

#ifdef Q_OS_WIN
// Runs on a thread of the system's own, from which a queued call is safe.
BOOL WINAPI OnConsoleEvent(DWORD event) {
    QMetaObject::invokeMethod(
        g_instance, [event] { emit g_instance->Stop(int(event)); }, Qt::QueuedConnection);
    return TRUE;
}
#else
// A handler may only write to a descriptor: the notifier reads it on the event loop.
int g_pipe[2] = {-1, -1};

void OnSignal(int signal) {
    const unsigned char number = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &number, 1);
}
#endif

} // namespace

CStopSignals::CStopSignals(QObject* parent) : QObject(parent) {
    g_instance = this;
#ifdef Q_OS_WIN
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
#else
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_pipe) != 0)
        qFatal("socketpair: %s", strerror(errno));
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        unsigned char number = 0;
        if (::read(g_pipe[0], &number, 1) == 1)
            emit Stop(number);
    });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
#endif
}

CStopSignals::~CStopSignals() {
#ifdef Q_OS_WIN
    SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
#else
    std::signal(SIGTERM, SIG_DFL);
    std::signal(SIGINT, SIG_DFL);
    delete m_notifier;
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
#endif
    g_instance = nullptr;
}
