#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The command line of tallyview-replay. Parse throws std::runtime_error with a one-line
// reason on any misuse, so nothing is rendered from a half-understood request.
class CReplayOptions {
public:
    static constexpr std::string_view kUsage =
        "Usage: tallyview-replay [--chunk N | --drain-at FILE] [--state] CAPTURE\n";

    static CReplayOptions Parse(const std::vector<std::string_view>& args);

    bool m_help = false;
    bool m_version = false;
    bool m_state = false;
    std::size_t m_chunk = 0; // 0: no chunking
    std::string m_drainAtFile;
    std::string m_capture; // "-": standard input
};
