// tallyview-replay: renders a recorded feed into the screen and prints it.
#include "CCommandLine.h"
#include "CReplay.h"
#include "CReplayOptions.h"

#include <cstdio>
#include <exception>
#include <iostream>
#include <stdexcept>
#include <string_view>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

constexpr std::string_view kHelp =
    "\n"
    "Renders CAPTURE (the raw bytes a statistics computer sent; - reads standard input)\n"
    "into the 42 x 132 screen and prints what the window would show: the rows without\n"
    "the trailing blank ones, the status text, the label text and the cursor (row-col).\n"
    "\n"
    "  --chunk N        drain the receive queue after every N bytes\n"
    "  --drain-at FILE  drain after the byte counts listed in FILE, one per line, ascending\n"
    "  --state          print the whole state instead: R00..R41, STATUS, LABEL, CURSOR\n"
    "                   (0-based), WIDE and PENDING, bytes outside 0x20..0x7E as \\xHH\n"
    "  --help           show this help and exit\n"
    "  --version        show the version and exit\n"
    "\n"
    "The queue is always drained once more at the end. Exit status: 0 on success,\n"
    "2 on bad input (nothing is printed on standard output then).\n";

int Fail(std::string_view message, int status) {
    std::cerr << "tallyview-replay: " << message << '\n';
    return status;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    std::string text;
    try {
        const CReplayOptions options = CReplayOptions::Parse(args);
        if (options.m_help) {
            std::cout << CReplayOptions::kUsage << kHelp;
            return 0;
        }
        if (options.m_version) {
            std::cout << CCommandLine::VersionLine("tallyview-replay");
            return 0;
        }
        text = CReplay(options).Run();
    } catch (const std::runtime_error& e) {
        return Fail(e.what(), 2);
    } catch (const std::exception& e) {
        return Fail(e.what(), 1);
    }
#ifdef _WIN32
    // Rows may hold any byte; the output is the same bytes as on Linux.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout))
        return Fail("cannot write to standard output", 1);
    return 0;
}
