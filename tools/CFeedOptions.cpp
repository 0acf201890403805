#include "CFeedOptions.h"

#include "CCommandLine.h"

#include <charconv>
#include <stdexcept>

namespace {

unsigned ParseBaud(std::string_view text) {
    const std::size_t baud = CCommandLine::ParseCount(text, "baud rate");
    if (baud < CFeedOptions::kMinBaud || baud > CFeedOptions::kMaxBaud)
        throw std::runtime_error("baud rate " + CCommandLine::Quoted(text) + " is not within " +
                                 std::to_string(CFeedOptions::kMinBaud) + " to " +
                                 std::to_string(CFeedOptions::kMaxBaud));
    return static_cast<unsigned>(baud);
}

double ParseSpeed(std::string_view text) {
    double speed = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, speed);
    if (text.empty() || ec != std::errc() || ptr != end || !(speed > 0) ||
        speed > CFeedOptions::kMaxSpeed)
        throw std::runtime_error("speed " + CCommandLine::Quoted(text) +
                                 " is not a number above 0 and up to 10000");
    return speed;
}

bool ParseTiming(std::string_view text) {
    if (text != "recorded" && text != "line")
        throw std::runtime_error("timing " + CCommandLine::Quoted(text) +
                                 " is neither 'recorded' nor 'line'");
    return text == "recorded";
}

std::uint16_t ParsePort(std::string_view text) {
    const std::size_t port = CCommandLine::ParseCount(text, "port");
    if (port > 65535)
        throw std::runtime_error("port " + CCommandLine::Quoted(text) + " is above 65535");
    return static_cast<std::uint16_t>(port);
}

std::string NonEmpty(std::string_view value, std::string_view option) {
    if (value.empty())
        throw std::runtime_error("option " + CCommandLine::Quoted(option) + " needs a value");
    return std::string(value);
}

} // namespace

CFeedOptions CFeedOptions::Parse(const std::vector<std::string_view>& args) {
    CFeedOptions options;
    bool speedGiven = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (arg == "--help" || arg == "-h") {
            options.m_help = true;
        } else if (arg == "--version") {
            options.m_version = true;
        } else if (arg == "--loop") {
            options.m_loop = true;
        } else if (arg == "--baud") {
            options.m_baud = ParseBaud(CCommandLine::ValueOf(args, i));
        } else if (arg == "--timing") {
            options.m_recorded = ParseTiming(CCommandLine::ValueOf(args, i));
        } else if (arg == "--speed") {
            options.m_speed = ParseSpeed(CCommandLine::ValueOf(args, i));
            speedGiven = true;
        } else if (arg == "--device") {
            options.m_device = NonEmpty(CCommandLine::ValueOf(args, i), arg);
        } else if (arg == "--pty") {
            options.m_link = NonEmpty(CCommandLine::ValueOf(args, i), arg);
        } else if (arg == "--listen") {
            options.m_listen = ParsePort(CCommandLine::ValueOf(args, i));
        } else {
            CCommandLine::TakeCapture(arg, options.m_capture);
        }
    }
    if (options.m_help || options.m_version)
        return options;
    const int lines = int(!options.m_device.empty()) + int(!options.m_link.empty()) +
                      int(options.m_listen.has_value());
    if (lines != 1)
        throw std::runtime_error("give exactly one of --device PATH, --pty LINK and --listen PORT");
    if (options.m_capture.empty())
        throw std::runtime_error("no capture file given");
    if (speedGiven && !options.m_recorded)
        throw std::runtime_error("--speed needs --timing recorded");
    return options;
}
