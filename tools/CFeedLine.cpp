#include "CFeedLine.h"

#include "CFeedOptions.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <sys/ioctl.h>
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

} // namespace

CFeedLine::CFeedLine(const CFeedOptions& options) : m_pty(!options.m_link.empty()) {
    if (m_pty) {
        m_link = options.m_link;
        CreatePty(options.m_baud);
        PlaceLink();
    } else {
        OpenDevice(options.m_device, options.m_baud);
    }
}

CFeedLine::~CFeedLine() {
    RemoveLink();
    if (m_fd >= 0)
        ::close(m_fd);
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

bool CFeedLine::ReaderPresent() {
    if (!m_pty)
        return true;
    pollfd pfd{m_fd, POLLIN, 0};
    if (::poll(&pfd, 1, 0) <= 0)
        return true;
    if (pfd.revents & POLLHUP)
        return false;
    // Whatever the reader sends back is not part of the feed; keep its way clear.
    char discard[256];
    while (::read(m_fd, discard, sizeof discard) > 0) {
    }
    return true;
}

bool CFeedLine::WaitForReader(const volatile std::sig_atomic_t& stop) {
    while (!stop && !ReaderPresent())
        std::this_thread::sleep_for(20ms);
    return !stop;
}

std::size_t CFeedLine::Write(std::string_view bytes) {
    const ssize_t written = ::write(m_fd, bytes.data(), bytes.size());
    if (written >= 0)
        return static_cast<std::size_t>(written);
    // EIO: the pseudo-terminal's reader went away between the check and the write.
    if (errno == EAGAIN || errno == EINTR || (m_pty && errno == EIO))
        return 0;
    throw std::system_error(errno, std::generic_category(), "write");
}

void CFeedLine::WaitWritable(std::chrono::milliseconds timeout) {
    pollfd pfd{m_fd, POLLOUT, 0};
    ::poll(&pfd, 1, static_cast<int>(timeout.count()));
}

void CFeedLine::Finish(const volatile std::sig_atomic_t& stop) {
    if (m_pty) {
        WaitForReaderToTakeAll(stop);
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
