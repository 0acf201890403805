#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The command line of tallyview-feed. Parse throws std::runtime_error with a one-line reason.
class CFeedOptions {
public:
    static constexpr std::string_view kUsage =
        "Usage: tallyview-feed [--baud N] [--loop] [--timing recorded [--speed X]]\n"
        "                      (--device PATH | --pty LINK | --listen PORT) CAPTURE\n";
    static constexpr unsigned kMinBaud = 50;
    static constexpr unsigned kMaxBaud = 4000000;
    static constexpr double kMaxSpeed = 10000;

    static CFeedOptions Parse(const std::vector<std::string_view>& args);

    bool m_help = false;
    bool m_version = false;
    bool m_loop = false;
    unsigned m_baud = 9600;
    bool m_recorded = false; // CAPTURE is a journal, played in the rhythm it was recorded in
    double m_speed = 1;      // that many times faster
    std::string m_device;
    std::string m_link;
    std::optional<std::uint16_t> m_listen; // a TCP port; 0 lets the system choose
    std::string m_capture;                 // "-": standard input
};
