#include "CFeedLine.h"

#include "CFeedOptions.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <system_error>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace {

using namespace std::chrono_literals;

constexpr std::array<std::pair<unsigned, speed_t>, 30> kSpeeds = {{
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
}};

bool FindSpeed(unsigned baud, speed_t& speed) {
    for (const auto& [rate, code] : kSpeeds) {
        if (rate == baud) {
            speed = code;
            return true;
        }
    }
    return false;
}

std::runtime_error Failure(const std::string& what, int error) {
    return std::runtime_error(what + ": " + std::strerror(error));
}

// Raw 8N1 without flow control; a read waits for at least one byte.
void MakeRaw(termios& tio) {
    cfmakeraw(&tio);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | CRTSCTS);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
}

std::string LinkTarget(const std::string& link) {
    char target[4096];
    const ssize_t length = ::readlink(link.c_str(), target, sizeof target);
    return length < 0 ? std::string() : std::string(target, static_cast<std::size_t>(length));
}

// Reads and drops what is waiting; false when the other side is gone (end of file, error).
bool DiscardInput(int fd) {
    char discard[256];
    for (;;) {
        const ssize_t n = ::read(fd, discard, sizeof discard);
        if (n <= 0)
            return n < 0 && (errno == EAGAIN || errno == EINTR);
    }
}

// A socket on every address: IPv6 and IPv4 together where the system has IPv6.
int ListeningSocket(std::uint16_t port) {
    int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_storage address{};
    socklen_t size = 0;
    if (fd >= 0) {
        const int off = 0;
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
        auto& any = reinterpret_cast<sockaddr_in6&>(address);
        any = sockaddr_in6{AF_INET6, htons(port), 0, in6addr_any, 0};
        size = sizeof any;
    } else {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        auto& any = reinterpret_cast<sockaddr_in&>(address);
        any = sockaddr_in{AF_INET, htons(port), {htonl(INADDR_ANY)}, {}};
        size = sizeof any;
    }
    const int on = 1; // a restarted feed takes its port back at once
    if (fd < 0 || ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 || ::listen(fd, 4) != 0) {
        const int error = errno;
        if (fd >= 0)
            ::close(fd);
        throw Failure("port " + std::to_string(port) + ": cannot listen", error);
    }
    return fd;
}

} // namespace

CFeedLine::CFeedLine(const CFeedOptions& options) {
    if (!options.m_link.empty()) {
        m_kind = Kind::Pty;
        m_link = options.m_link;
        CreatePty(options.m_baud);
        PlaceLink();
    } else if (options.m_listen) {
        m_kind = Kind::Listen;
        Listen(*options.m_listen);
    } else {
        OpenDevice(options.m_device, options.m_baud);
    }
}

CFeedLine::~CFeedLine() {
    RemoveLink();
    for (const int fd : {m_fd, m_listenFd})
        if (fd >= 0)
            ::close(fd);
}

void CFeedLine::OpenDevice(const std::string& path, unsigned baud) {
    speed_t speed = B0;
    if (!FindSpeed(baud, speed))
        throw std::runtime_error(path + ": " + std::to_string(baud) +
                                 " baud is not a rate a serial device can be set to");
    m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0)
        throw Failure(path + ": cannot open", errno);
    termios tio{};
    if (::tcgetattr(m_fd, &tio) != 0)
        throw Failure(path + ": not a serial device", errno);
    MakeRaw(tio);
    if (::cfsetspeed(&tio, speed) != 0 || ::tcsetattr(m_fd, TCSANOW, &tio) != 0)
        throw Failure(path + ": cannot set " + std::to_string(baud) + " baud 8N1", errno);
}

void CFeedLine::CreatePty(unsigned baud) {
    int slave = -1;
    if (::openpty(&m_fd, &slave, nullptr, nullptr, nullptr) != 0)
        throw Failure("cannot create a pseudo-terminal", errno);
    m_slavePath = ::ttyname(slave);
    // Raw for readers that do not set it themselves (cat, a terminal emulator); the baud rate
    // is only reported, since a pseudo-terminal moves bytes at any speed.
    termios tio{};
    ::tcgetattr(slave, &tio);
    MakeRaw(tio);
    speed_t speed = B0;
    if (FindSpeed(baud, speed))
        ::cfsetspeed(&tio, speed);
    ::tcsetattr(slave, TCSANOW, &tio);
    // With no slave descriptor of our own, the master reports a hang-up exactly while no
    // program has the link open: that is how ReaderPresent() knows.
    ::close(slave);
    ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
    ::fcntl(m_fd, F_SETFD, FD_CLOEXEC);
}

void CFeedLine::PlaceLink() {
    struct stat info {};
    if (::lstat(m_link.c_str(), &info) == 0 && !S_ISLNK(info.st_mode))
        throw std::runtime_error(m_link + ": exists and is not a symbolic link");
    // A link left by an earlier run is replaced in one step through a temporary name.
    const std::string temporary = m_link + ".tmp" + std::to_string(::getpid());
    ::unlink(temporary.c_str());
    if (::symlink(m_slavePath.c_str(), temporary.c_str()) != 0)
        throw Failure(m_link + ": cannot create the link", errno);
    if (::rename(temporary.c_str(), m_link.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        throw Failure(m_link + ": cannot create the link", error);
    }
    m_linkPlaced = true;
}

void CFeedLine::RemoveLink() {
    // Only our own link: another feed may have taken the name over since.
    if (m_linkPlaced && LinkTarget(m_link) == m_slavePath)
        ::unlink(m_link.c_str());
    m_linkPlaced = false;
}

void CFeedLine::Listen(std::uint16_t port) {
    m_listenFd = ListeningSocket(port);
    sockaddr_storage bound{};
    socklen_t size = sizeof bound;
    ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&bound), &size);
    m_listenPort =
        ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6&>(bound).sin6_port
                                          : reinterpret_cast<const sockaddr_in&>(bound).sin_port);
}

bool CFeedLine::Accept(const volatile std::sig_atomic_t& stop) {
    Hangup();
    while (!stop && m_fd < 0) {
        pollfd pfd{m_listenFd, POLLIN, 0};
        if (::poll(&pfd, 1, 100) > 0)
            m_fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    }
    // Each write leaves at once, as from a serial device server.
    const int on = 1;
    if (m_fd >= 0)
        ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return m_fd >= 0;
}

void CFeedLine::Hangup() {
    if (m_kind != Kind::Listen || m_fd < 0)
        return;
    ::close(m_fd);
    m_fd = -1;
}

bool CFeedLine::ReaderPresent() {
    if (m_kind == Kind::Device)
        return true;
    if (m_fd < 0)
        return false;
    pollfd pfd{m_fd, POLLIN, 0};
    if (::poll(&pfd, 1, 0) <= 0)
        return true;
    if (m_kind == Kind::Pty && (pfd.revents & POLLHUP))
        return false;
    // Whatever the reader sends back is not part of the feed; keep its way clear.
    if (DiscardInput(m_fd) || m_kind == Kind::Pty)
        return true;
    Hangup();
    return false;
}

bool CFeedLine::WaitForReader(const volatile std::sig_atomic_t& stop) {
    if (m_kind == Kind::Listen)
        return !stop && ReaderPresent();
    while (!stop && !ReaderPresent())
        std::this_thread::sleep_for(20ms);
    return !stop;
}

std::size_t CFeedLine::Write(std::string_view bytes) {
    const ssize_t written = ::write(m_fd, bytes.data(), bytes.size());
    if (written >= 0)
        return static_cast<std::size_t>(written);
    // EIO: the pseudo-terminal's reader went away between the check and the write.
    if (errno == EAGAIN || errno == EINTR || (m_kind == Kind::Pty && errno == EIO))
        return 0;
    if (m_kind == Kind::Listen) { // the client is gone, whatever the reason
        Hangup();
        return 0;
    }
    throw std::system_error(errno, std::generic_category(), "write");
}

void CFeedLine::WaitWritable(std::chrono::milliseconds timeout) {
    pollfd pfd{m_fd, POLLOUT, 0};
    ::poll(&pfd, 1, static_cast<int>(timeout.count()));
}

void CFeedLine::Finish(const volatile std::sig_atomic_t& stop) {
    if (m_kind == Kind::Pty) {
        WaitForReaderToTakeAll(stop);
        return;
    }
    if (m_kind == Kind::Listen) {
        WaitForClientToClose(stop);
        return;
    }
    while (::tcdrain(m_fd) != 0 && errno == EINTR && !stop) {
    }
}

void CFeedLine::WaitForReaderToTakeAll(const volatile std::sig_atomic_t& stop) {
    if (!ReaderPresent())
        return;
    // The reader's input queue can only be seen from the slave side. A reader that took the
    // line for itself (TIOCEXCL, as serial libraries do) keeps us out: then give it a moment.
    const int slave = ::open(m_slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave < 0) {
        std::this_thread::sleep_for(1s);
        return;
    }
    // Give up when a reader stops taking bytes for two seconds; two empty looks in a row,
    // since written bytes reach the queue a moment after the write.
    int queued = 0;
    int lastQueued = -1;
    int emptyLooks = 0;
    auto progress = std::chrono::steady_clock::now();
    while (!stop && emptyLooks < 2 && ::ioctl(slave, FIONREAD, &queued) == 0) {
        emptyLooks = queued == 0 ? emptyLooks + 1 : 0;
        if (queued != lastQueued)
            progress = std::chrono::steady_clock::now();
        else if (std::chrono::steady_clock::now() - progress > 2s)
            break;
        lastQueued = queued;
        std::this_thread::sleep_for(10ms);
    }
    ::close(slave);
}

void CFeedLine::WaitForClientToClose(const volatile std::sig_atomic_t& stop) {
    if (m_fd < 0)
        return;
    // The rest goes out before our end of file. Closing while the client's bytes sit unread
    // would reset the connection and could cost it the last of the capture.
    ::shutdown(m_fd, SHUT_WR);
    const auto end = std::chrono::steady_clock::now() + 2s;
    while (!stop && std::chrono::steady_clock::now() < end) {
        pollfd pfd{m_fd, POLLIN, 0};
        if (::poll(&pfd, 1, 100) > 0 && !DiscardInput(m_fd))
            break;
    }
    Hangup();
}
