// tallyview-replay: renders a recorded feed into the screen and prints it.
#include "CCommandLine.h"
#include "CReplay.h"
#include "CReplayOptions.h"
#if TALLYVIEW_SERIES
#include "CSeriesReport.h"
#endif

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
    "  --journal        CAPTURE is a journal file (ttyrec records), as is any name ending\n"
    "                   in .ttyrec; its records' bytes are rendered\n"
    "  --at HH:MM:SS    render a journal only up to this local clock time of its day\n"
    "  --at +SECONDS    ... or up to this many seconds after its start\n"
    "  --series FIELDS_FILE NAME\n"
    "                   print the values of the field NAME (or a table's cell,\n"
    "                   TABLE.ROW.COLUMN) of FIELDS_FILE over the JOURNAL files as CSV:\n"
    "                   time,value,current, one line per change\n"
    "  --from HH:MM:SS  with --series: from this local clock time of the first file's day\n"
    "  --to HH:MM:SS    ... up to this one (+SECONDS: after the first record)\n"
    "  --help           show this help and exit\n"
    "  --version        show the version and exit\n"
    "\n"
    "A journal that ends in a torn record (its writer was killed mid-write) is rendered up\n"
    "to that record, with a note on standard error.\n"
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
        if (!options.m_seriesFields.empty()) {
#if TALLYVIEW_SERIES
            text = CSeriesReport::Run(options);
#else
            throw std::runtime_error("--series is not in this build");
#endif
        } else {
            CReplay replay(options);
            text = replay.Run();
            if (!replay.Note().empty())
                std::cerr << "tallyview-replay: note: " << replay.Note() << '\n';
        }
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
