// tallyview-feed: plays a capture into a serial line at the real line rate, standing in for
// the statistics computer at rehearsals, demos and tests; or serves it as a device server.
#include "CCaptureFile.h"
#include "CCaptureStream.h"
#include "CCommandLine.h"
#include "CFeedLine.h"
#include "CFeedOptions.h"
#include "CFeedPlayer.h"
#include "CTtyrecReader.h"

#include <csignal>
#include <cstdio>
#include <exception>
#include <iostream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace {

constexpr std::string_view kHelp =
    "\n"
    "Writes the bytes of CAPTURE (- reads standard input) at the real rate of a serial line\n"
    "of N baud, 8N1: 10 bit times per byte.\n"
    "\n"
    "  --baud N       line rate (default 9600); a device takes the standard rates only\n"
    "  --loop         play the capture over and over until interrupted\n"
    "  --device PATH  write to this serial device, set to raw 8N1 at the baud rate\n"
    "  --pty LINK     create a pseudo-terminal pair, make LINK a symbolic link to the side a\n"
    "                 program opens (an existing symbolic link is replaced), print LINK, and\n"
    "                 remove it at exit (end, Ctrl-C, SIGTERM, SIGHUP)\n"
    "  --listen PORT  be a device server: take TCP connections on PORT (every address; 0 lets\n"
    "                 the system choose), print the port, and play the capture to each\n"
    "                 client in turn, from the beginning, as raw bytes; a client that\n"
    "                 leaves ends its play; serves until interrupted\n"
    "  --timing recorded  CAPTURE is a journal file (ttyrec): each record's bytes are sent\n"
    "                 when its recorded time has come, so a game plays as it happened\n"
    "  --speed X      with --timing recorded: X times faster (default 1)\n"
    "  --help         show this help and exit\n"
    "  --version      show the version and exit\n"
    "\n"
    "With --pty nothing is lost to an unread pseudo-terminal: playing starts when a program\n"
    "opens LINK, pauses while no program has it open and goes on when one opens it again.\n"
    "At the end the feed waits until the reader has taken the last bytes (it gives up when\n"
    "the reader takes nothing for two seconds; when the reader keeps others out of the line,\n"
    "it waits one second).\n"
    "\n"
    "Serial devices: to open one the user must be in the \"dialout\" group\n"
    "(sudo adduser USER dialout, then log in again).\n"
    "\n"
    "Exit status: 0 when the capture was played, 2 on bad arguments or files that cannot be\n"
    "opened, 1 when writing fails; ended by a signal, the feed ends by that signal.\n";

volatile std::sig_atomic_t g_stop = 0;

extern "C" void OnStopSignal(int signal) {
    g_stop = signal;
}

// No SA_RESTART: a blocking call returns early so the feed notices the signal.
void CatchStopSignals() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

int Fail(std::string_view message, int status) {
    std::cerr << "tallyview-feed: " << message << '\n';
    return status;
}

// The journal's records; a torn end is only noted, the records before it are played.
std::vector<CTtyrecRecord> ReadRecords(const std::string& capture, const std::string& path) {
    std::istringstream in(capture);
    CTtyrecReader reader(in);
    std::vector<CTtyrecRecord> records;
    for (CTtyrecRecord record; reader.Next(record);)
        records.push_back(std::move(record));
    if (!reader.Note().empty())
        std::cerr << "tallyview-feed: note: " << reader.Note() << '\n';
    if (records.empty())
        throw std::runtime_error(CCaptureFile::DisplayName(path) + ": no journal records");
    return records;
}

// The records with --timing recorded, otherwise the capture from its beginning.
int Play(CFeedLine& line, const CFeedOptions& options, CCaptureStream* capture,
         const std::vector<CTtyrecRecord>& records) {
    try {
        CFeedPlayer player(line, options.m_baud, g_stop);
        if (capture)
            capture->Rewind();
        const bool played = capture ? player.Play([capture] { return capture->Next(); })
                                    : player.PlayRecorded(records, options.m_speed, options.m_loop);
        if (played)
            line.Finish(g_stop);
    } catch (const std::exception& e) {
        return Fail(e.what(), 1);
    }
    return 0;
}

// A device server: one client at a time, each given the whole capture.
int Serve(CFeedLine& line, const CFeedOptions& options, CCaptureStream* capture,
          const std::vector<CTtyrecRecord>& records) {
    while (line.Accept(g_stop))
        if (const int status = Play(line, options, capture, records); status != 0)
            return status;
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    CatchStopSignals();
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    CFeedOptions options;
    std::unique_ptr<CCaptureStream> capture;
    std::vector<CTtyrecRecord> records;
    std::unique_ptr<CFeedLine> line;
    try {
        options = CFeedOptions::Parse(args);
        if (options.m_help) {
            std::cout << CFeedOptions::kUsage << kHelp;
            return 0;
        }
        if (options.m_version) {
            std::cout << CCommandLine::VersionLine("tallyview-feed");
            return 0;
        }
        // Played as it is read: a capture of hours takes no more memory than a short one.
        if (options.m_recorded)
            records = ReadRecords(CCaptureFile::ReadAll(options.m_capture), options.m_capture);
        else
            capture = std::make_unique<CCaptureStream>(options.m_capture, options.m_loop);
        if (capture && options.m_loop && capture->Next().empty())
            throw std::runtime_error(CCaptureFile::DisplayName(options.m_capture) +
                                     ": empty, nothing to loop");
        line = std::make_unique<CFeedLine>(options);
    } catch (const std::exception& e) {
        return Fail(e.what(), 2);
    }
    if (!options.m_link.empty())
        std::cout << options.m_link << std::endl;
    if (options.m_listen)
        std::cout << line->ListenPort() << std::endl;
    const int status = options.m_listen ? Serve(*line, options, capture.get(), records)
                                        : Play(*line, options, capture.get(), records);
    line.reset();
    if (g_stop != 0) {
        std::signal(g_stop, SIG_DFL);
        std::raise(g_stop);
    }
    return status;
}
