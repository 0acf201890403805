// tallyview-feed run as a process, read back through real pseudo-terminals.
#include "CChildProcess.h"
#include "CTempDir.h"
#include "CTtyrecRecord.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <random>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr unsigned kBaud = 115200;

// Every byte value, in an order that makes a lost or repeated stretch show.
std::string Pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + i / 256) & 0xff);
    return bytes;
}

bool Exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

int OpenRaw(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
    if (fd >= 0) {
        termios tio{};
        ::tcgetattr(fd, &tio);
        cfmakeraw(&tio);
        ::tcsetattr(fd, TCSANOW, &tio);
    }
    return fd;
}

struct Received {
    std::string bytes;
    Clock::time_point first;
    Clock::time_point last;
};

// Reads until count bytes came, the writer closed, or the timeout passed.
Received ReadFrom(int fd, std::size_t count, std::chrono::milliseconds timeout) {
    Received received;
    const auto end = Clock::now() + timeout;
    char buffer[4096];
    while (received.bytes.size() < count && Clock::now() < end) {
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, 50) <= 0)
            continue;
        const ssize_t n =
            ::read(fd, buffer, std::min(sizeof buffer, count - received.bytes.size()));
        if (n <= 0)
            break;
        received.last = Clock::now();
        if (received.bytes.empty())
            received.first = received.last;
        received.bytes.append(buffer, static_cast<std::size_t>(n));
    }
    return received;
}

// Paced: never faster than 10 bit times per byte allow. How close to the line rate it keeps on a
// busy machine is for a benchmark; that everything came is bounded by the read's own timeout.
void ExpectLineRate(const Received& received, unsigned baud) {
    const double expected = static_cast<double>(received.bytes.size() - 1) * 10 / baud;
    const double elapsed = std::chrono::duration<double>(received.last - received.first).count();
    EXPECT_GT(elapsed, 0.8 * expected);
}

class FeedTool : public testing::Test {
protected:
    std::unique_ptr<CChildProcess> StartPty(const std::string& capture, bool loop = false,
                                            unsigned baud = kBaud) {
        std::vector<std::string> argv{TALLYVIEW_FEED, "--baud", std::to_string(baud)};
        if (loop)
            argv.push_back("--loop");
        argv.insert(argv.end(), {"--pty", m_link, capture});
        auto feed = std::make_unique<CChildProcess>(argv);
        EXPECT_EQ(feed->ReadLine(5s), m_link) << feed->Err();
        return feed;
    }

    CTempDir m_dir;
    const std::string m_link = m_dir.Path("line");
};

TEST_F(FeedTool, DeliversEveryByteInOrderAtTheLineRate) {
    const std::string bytes = Pattern(kBaud / 10 * 5 / 2); // 2.5 s of line time
    auto feed = StartPty(m_dir.Write("game.cap", bytes));
    // Nobody reads yet: the feed must wait rather than lose the start of the game.
    std::this_thread::sleep_for(600ms); // more than the 4 KB a pseudo-terminal holds
    const int fd = OpenRaw(m_link);
    ASSERT_GE(fd, 0);
    const Received received = ReadFrom(fd, bytes.size(), 8s);
    ::close(fd);

    EXPECT_TRUE(received.bytes == bytes) << "got " << received.bytes.size() << " bytes";
    ExpectLineRate(received, kBaud);
    const int status = feed->Wait(5s);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << feed->Err();
    EXPECT_FALSE(Exists(m_link));
}

// A reader that closes the line and comes back misses nothing, and the feed did not run ahead
// into the kernel's buffer meanwhile: what follows still comes at the line rate.
TEST_F(FeedTool, PausesWhileNobodyHasTheLineOpen) {
    const std::string bytes = Pattern(kBaud / 10 * 2);
    auto feed = StartPty(m_dir.Write("game.cap", bytes));
    int fd = OpenRaw(m_link);
    ASSERT_GE(fd, 0);
    const Received before = ReadFrom(fd, 4000, 3s);
    ::close(fd);
    std::this_thread::sleep_for(1s); // 11,520 bytes of line time
    fd = OpenRaw(m_link);
    ASSERT_GE(fd, 0);
    const Received resumed = ReadFrom(fd, 8000, 3s);
    const std::string after = resumed.bytes + ReadFrom(fd, bytes.size(), 6s).bytes;
    ::close(fd);

    ASSERT_EQ(before.bytes, bytes.substr(0, before.bytes.size()));
    ASSERT_LE(before.bytes.size() + after.size(), bytes.size());
    const std::size_t resumedAt = bytes.size() - after.size();
    EXPECT_TRUE(after == bytes.substr(resumedAt));
    // Only what sat unread in the line when it closed may be gone.
    EXPECT_LT(resumedAt - before.bytes.size(), 1024u);
    ExpectLineRate(resumed, kBaud);
    EXPECT_EQ(feed->Wait(5s), 0) << feed->Err();
}

struct Stop {
    int signal;
    bool reading; // a reader has the line open
};

TEST_F(FeedTool, RemovesTheLinkWhenStopped) {
    const std::string capture = m_dir.Write("game.cap", Pattern(5000));
    for (const Stop& stop :
         {Stop{SIGTERM, true}, Stop{SIGINT, true}, Stop{SIGTERM, false}, Stop{SIGHUP, true}}) {
        SCOPED_TRACE(stop.signal);
        auto feed = StartPty(capture, true);
        int fd = -1;
        if (stop.reading) {
            fd = OpenRaw(m_link);
            EXPECT_EQ(ReadFrom(fd, 6000, 3s).bytes.size(), 6000u); // into the second round
        }
        feed->Signal(stop.signal);
        const int status = feed->Wait(3s);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == stop.signal) << status;
        EXPECT_FALSE(Exists(m_link));
        if (fd >= 0)
            ::close(fd);
    }
}

// The capture is read as it is played: looped, one longer than a read still comes whole and in
// order, pass after pass.
TEST_F(FeedTool, LoopsACaptureLongerThanOneReadWithoutLosingAByte) {
    std::mt19937 random(28);
    std::string bytes(150001, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(random());
    auto feed = StartPty(m_dir.Write("game.cap", bytes), true, 4000000);
    const int fd = OpenRaw(m_link);
    ASSERT_GE(fd, 0);
    const std::string expected = bytes + bytes + bytes.substr(0, 5000);
    const Received received = ReadFrom(fd, expected.size(), 20s);
    ::close(fd);
    EXPECT_TRUE(received.bytes == expected) << "got " << received.bytes.size() << " bytes";
    feed->Signal(SIGTERM);
    feed->Wait(3s);
}

TEST_F(FeedTool, WritesToASerialDevice) {
    int master = -1;
    int slave = -1;
    ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    const std::string device = ::ttyname(slave);
    const std::string bytes = Pattern(3000);
    CChildProcess feed(
        {TALLYVIEW_FEED, "--baud", "115200", "--device", device, m_dir.Write("game.cap", bytes)});
    const Received received = ReadFrom(master, bytes.size(), 5s);
    EXPECT_TRUE(received.bytes == bytes) << "got " << received.bytes.size() << " bytes";
    EXPECT_EQ(feed.Wait(5s), 0) << feed.Err();
    termios tio{};
    ::tcgetattr(slave, &tio);
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B115200));
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    ::close(slave);
    ::close(master);
}

TEST_F(FeedTool, BadArgumentsFailWithStatusTwo) {
    const std::string capture = m_dir.Write("game.cap", "0123456789");
    const std::string empty = m_dir.Write("empty.cap", "");
    const std::string regular = m_dir.Write("taken", "keep me");
    const std::string missing = m_dir.Path("missing.cap");
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"--pty", m_link},
        {"--pty", m_link, "--device", "/dev/null", capture},
        {"--baud", "0", "--pty", m_link, capture},
        {"--baud", "fast", "--pty", m_link, capture},
        {"--baud", "12345", "--device", "/dev/ptmx", capture},
        {"--pty", m_link, missing},
        {"--loop", "--pty", m_link, empty},
        {"--device", missing, capture},
        {"--device", "/dev/null", capture},
        {"--pty", m_dir.Path("no/such/dir"), capture},
        {"--pty", regular, capture},
        {"--frobnicate", "--pty", m_link, capture},
        {"--timing", "recorded", "--pty", m_link, capture},
        {"--timing", "sometimes", "--pty", m_link, capture},
        {"--speed", "2", "--pty", m_link, capture},
        {"--timing", "recorded", "--speed", "0", "--pty", m_link, capture},
        {"--timing", "recorded", "--speed", "fast", "--pty", m_link, capture},
        {"--listen", "65536", capture},
        {"--listen", "0", "--pty", m_link, capture},
    };
    for (const auto& args : cases) {
        std::vector<std::string> argv{TALLYVIEW_FEED};
        argv.insert(argv.end(), args.begin(), args.end());
        std::string out;
        std::string err;
        SCOPED_TRACE(testing::PrintToString(args));
        EXPECT_EQ(CChildProcess::Run(argv, out, err), 2);
        EXPECT_EQ(out, "");
        EXPECT_NE(err, "");
        EXPECT_FALSE(Exists(m_link));
    }
    std::string kept;
    std::getline(std::ifstream(regular), kept);
    EXPECT_EQ(kept, "keep me");
}

} // namespace

namespace {

// A journal's records come out whole and in their recorded rhythm: the last one, recorded
// 1.2 s after the first, at least half a second later at double speed. A torn end is noted.
TEST_F(FeedTool, PlaysAJournalInItsRecordedRhythm) {
    const CTtyrecRecord::Time start(std::chrono::seconds(1'700'000'000));
    std::string journal;
    const std::string chunks[] = {"\x1b+board", Pattern(300), "late"};
    CTtyrecRecord::Encode(start, chunks[0], journal);
    CTtyrecRecord::Encode(start + 200ms, chunks[1], journal);
    CTtyrecRecord::Encode(start + 1200ms, chunks[2], journal);
    journal += "torn";
    CChildProcess feed({TALLYVIEW_FEED, "--timing", "recorded", "--speed", "2", "--pty", m_link,
                        m_dir.Write("game.ttyrec", journal)});
    ASSERT_EQ(feed.ReadLine(5s), m_link) << feed.Err();
    const int fd = OpenRaw(m_link);
    ASSERT_GE(fd, 0);
    const std::string played = chunks[0] + chunks[1] + chunks[2];
    const Received received = ReadFrom(fd, played.size() + 1, 4s);
    ::close(fd);
    EXPECT_TRUE(received.bytes == played) << received.bytes.size();
    EXPECT_GE(received.last - received.first, 500ms);
    EXPECT_EQ(feed.Wait(5s), 0) << feed.Err();
    EXPECT_NE(feed.Err().find("note: torn record"), std::string::npos) << feed.Err();
}

} // namespace

namespace {

int ConnectLoopback(const std::string& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{
        AF_INET, htons(static_cast<std::uint16_t>(std::stoi(port))), {htonl(INADDR_LOOPBACK)}, {}};
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A client that leaves midway does not cost the next one the start of the capture; each gets
// every byte and then the server's end of file.
TEST_F(FeedTool, ServesTheCaptureToEachClientOfItsPort) {
    const std::string bytes = Pattern(kBaud / 10 / 2);
    CChildProcess feed({TALLYVIEW_FEED, "--baud", std::to_string(kBaud), "--listen", "0",
                        m_dir.Write("game.cap", bytes)});
    const std::string port = feed.ReadLine(5s);
    ASSERT_NE(port, "") << feed.Err();
    int fd = ConnectLoopback(port);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(ReadFrom(fd, 100, 3s).bytes, bytes.substr(0, 100));
    ::close(fd);
    for (int client = 0; client < 2; ++client) {
        fd = ConnectLoopback(port);
        ASSERT_GE(fd, 0);
        const Received received = ReadFrom(fd, bytes.size() + 1, 5s);
        ::close(fd);
        EXPECT_TRUE(received.bytes == bytes) << "got " << received.bytes.size() << " bytes";
        ExpectLineRate(received, kBaud);
    }
    feed.Signal(SIGTERM);
    const int status = feed.Wait(3s);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status << feed.Err();
}

} // namespace
