#include "PtyPair.h"

#include <cerrno>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <system_error>
#include <termios.h>
#include <unistd.h>

PtyPair::PtyPair() {
    char name[256] = {};
    if (openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0)
        throw std::system_error(errno, std::generic_category(), "openpty");
    m_slavePath = name;
    termios tio{};
    tcgetattr(m_slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(m_slave, TCSANOW, &tio);
}

PtyPair::~PtyPair() {
    ::close(m_slave);
    ::close(m_master);
}

void PtyPair::Write(std::string_view bytes) const {
    while (!bytes.empty()) {
        const ssize_t n = ::write(m_master, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw std::system_error(errno, std::generic_category(), "write to pty master");
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

std::size_t PtyPair::Unread() const {
    int queued = 0;
    return ioctl(m_slave, FIONREAD, &queued) == 0 ? static_cast<std::size_t>(queued) : SIZE_MAX;
}

std::string PtyPair::Read(int timeoutMs) const {
    std::string out;
    pollfd pfd{m_master, POLLIN, 0};
    char buf[4096];
    while (::poll(&pfd, 1, timeoutMs) > 0 && (pfd.revents & POLLIN)) {
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n <= 0)
            break;
        out.append(buf, static_cast<std::size_t>(n));
    }
    return out;
}
