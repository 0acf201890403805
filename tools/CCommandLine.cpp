#include "CCommandLine.h"

#include <charconv>
#include <stdexcept>

std::string CCommandLine::VersionLine(std::string_view program) {
    return std::string(program) + " " TALLYVIEW_VERSION "\n";
}

std::string CCommandLine::Quoted(std::string_view text) {
    return "'" + std::string(text) + "'";
}

std::size_t CCommandLine::ParseCount(std::string_view text, std::string_view what) {
    std::size_t value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec == std::errc::invalid_argument || ptr != end)
        throw std::runtime_error(std::string(what) + " " + Quoted(text) + " is not a number");
    if (ec == std::errc::result_out_of_range)
        throw std::runtime_error(std::string(what) + " " + Quoted(text) + " is too large");
    return value;
}

std::string_view CCommandLine::ValueOf(const std::vector<std::string_view>& args, std::size_t& i) {
    if (i + 1 >= args.size())
        throw std::runtime_error("option " + Quoted(args[i]) + " needs a value");
    return args[++i];
}

void CCommandLine::TakeCapture(std::string_view arg, std::string& capture) {
    if (arg.size() > 1 && arg.front() == '-')
        throw std::runtime_error("unknown option " + Quoted(arg));
    if (!capture.empty())
        throw std::runtime_error("more than one capture given: " + Quoted(arg));
    capture = arg;
}
