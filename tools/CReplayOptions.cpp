#include "CReplayOptions.h"

#include "CCommandLine.h"

#include <stdexcept>

CReplayOptions CReplayOptions::Parse(const std::vector<std::string_view>& args) {
    CReplayOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (arg == "--help" || arg == "-h") {
            options.m_help = true;
        } else if (arg == "--version") {
            options.m_version = true;
        } else if (arg == "--state") {
            options.m_state = true;
        } else if (arg == "--chunk") {
            options.m_chunk =
                CCommandLine::ParseCount(CCommandLine::ValueOf(args, i), "chunk size");
            if (options.m_chunk == 0)
                throw std::runtime_error("chunk size must be at least 1");
        } else if (arg == "--drain-at") {
            options.m_drainAtFile = CCommandLine::ValueOf(args, i);
        } else {
            CCommandLine::TakeCapture(arg, options.m_capture);
        }
    }
    if (options.m_help || options.m_version)
        return options;
    if (options.m_chunk != 0 && !options.m_drainAtFile.empty())
        throw std::runtime_error("--chunk and --drain-at cannot be used together");
    if (options.m_capture.empty())
        throw std::runtime_error("no capture file given");
    return options;
}
