#include "CInfoOptions.h"

#include "CAppResources.h"

#include <string_view>

namespace {

constexpr std::string_view kHelp =
    "Usage: tallyview [--help | --version]\n"
    "\n"
    "Shows live the screen a statistics computer sends over a serial line: the 42 x 132\n"
    "screen, its status and label messages and the cursor, with Copy, Print and Save File.\n"
    "Config Port chooses the serial port; its settings are kept in Tallyview.cfg in the\n"
    "directory the program is started from, and Print writes TallyviewTemp.txt there.\n"
    "\n"
    "Serial ports: to open one the user must be in the \"dialout\" group\n"
    "(sudo adduser USER dialout, then log in again).\n"
    "\n"
    "  --help     show this help and exit\n"
    "  --version  show the version and exit\n";

} // namespace

bool CInfoOptions::Answer(int argc, char** argv, std::ostream& out) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help") {
            out << kHelp;
            return true;
        }
        if (arg == "--version") {
            out << "tallyview " << CAppResources::Version().toStdString() << '\n';
            return true;
        }
    }
    return false;
}
