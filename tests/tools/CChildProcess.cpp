#include "CChildProcess.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>

extern char** environ;

namespace {

void MakePipe(int fds[2]) {
    if (::pipe2(fds, O_CLOEXEC) != 0)
        throw std::system_error(errno, std::generic_category(), "pipe2");
}

} // namespace

CChildProcess::CChildProcess(const std::vector<std::string>& argv, const std::string& stdinPath) {
    int out[2];
    int err[2];
    MakePipe(out);
    MakePipe(err);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, stdinPath.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    const int result = posix_spawn(&m_pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    m_outFd = out[0];
    m_errFd = err[0];
    if (result != 0)
        throw std::system_error(result, std::generic_category(), "posix_spawn " + argv[0]);
}

CChildProcess::~CChildProcess() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    for (const int fd : {m_outFd, m_errFd})
        if (fd >= 0)
            ::close(fd);
}

void CChildProcess::Pump(std::chrono::milliseconds timeout) {
    pollfd fds[] = {{m_outFd, POLLIN, 0}, {m_errFd, POLLIN, 0}};
    if (::poll(fds, 2, static_cast<int>(timeout.count())) <= 0)
        return;
    std::string* texts[] = {&m_out, &m_err};
    int* owners[] = {&m_outFd, &m_errFd};
    char buffer[65536];
    for (int i = 0; i < 2; ++i) {
        if (!(fds[i].revents & (POLLIN | POLLHUP)))
            continue;
        const ssize_t count = ::read(fds[i].fd, buffer, sizeof buffer);
        if (count > 0) {
            texts[i]->append(buffer, static_cast<std::size_t>(count));
        } else {
            // End of that stream: poll skips negative descriptors from now on.
            ::close(fds[i].fd);
            *owners[i] = -1;
        }
    }
}

std::string CChildProcess::ReadLine(std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (m_out.find('\n', m_lineStart) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return {};
        Pump(left);
    }
    const std::size_t newline = m_out.find('\n', m_lineStart);
    std::string line = m_out.substr(m_lineStart, newline - m_lineStart);
    m_lineStart = newline + 1;
    return line;
}

void CChildProcess::Signal(int signal) const {
    ::kill(m_pid, signal);
}

int CChildProcess::Wait(std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    while (::waitpid(m_pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > end)
            return -1;
        Pump(std::chrono::milliseconds(10));
    }
    m_pid = -1;
    // Take what is left in the pipes, up to their end.
    for (int round = 0; round < 100 && (m_outFd >= 0 || m_errFd >= 0); ++round)
        Pump(std::chrono::milliseconds(100));
    return status;
}

int CChildProcess::Run(const std::vector<std::string>& argv, std::string& out, std::string& err,
                       const std::string& stdinPath) {
    CChildProcess child(argv, stdinPath);
    const int status = child.Wait(std::chrono::seconds(10));
    out = child.Out();
    err = child.Err();
    return status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
