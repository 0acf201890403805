#include "CReplayOptions.h"

#include <charconv>
#include <stdexcept>

namespace {

std::string Quoted(std::string_view text) {
    return "'" + std::string(text) + "'";
}

std::string_view ValueOf(const std::vector<std::string_view>& args, std::size_t& i) {
    if (i + 1 >= args.size())
        throw std::runtime_error("option " + Quoted(args[i]) + " needs a value");
    return args[++i];
}

} // namespace

std::size_t CReplayOptions::ParseCount(std::string_view text, std::string_view what) {
    std::size_t value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec == std::errc::invalid_argument || ptr != end)
        throw std::runtime_error(std::string(what) + " " + Quoted(text) + " is not a number");
    if (ec == std::errc::result_out_of_range)
        throw std::runtime_error(std::string(what) + " " + Quoted(text) + " is too large");
    return value;
}

CReplayOptions CReplayOptions::Parse(const std::vector<std::string_view>& args) {
    CReplayOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (arg == "--help" || arg == "-h") {
            options.m_help = true;
        } else if (arg == "--state") {
            options.m_state = true;
        } else if (arg == "--chunk") {
            options.m_chunk = ParseCount(ValueOf(args, i), "chunk size");
            if (options.m_chunk == 0)
                throw std::runtime_error("chunk size must be at least 1");
        } else if (arg == "--drain-at") {
            options.m_drainAtFile = ValueOf(args, i);
        } else if (arg.size() > 1 && arg.front() == '-') {
            throw std::runtime_error("unknown option " + Quoted(arg));
        } else if (!options.m_capture.empty()) {
            throw std::runtime_error("more than one capture given: " + Quoted(arg));
        } else {
            options.m_capture = arg;
        }
    }
    if (options.m_help)
        return options;
    if (options.m_chunk != 0 && !options.m_drainAtFile.empty())
        throw std::runtime_error("--chunk and --drain-at cannot be used together");
    if (options.m_capture.empty())
        throw std::runtime_error("no capture file given");
    return options;
}
