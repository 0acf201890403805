#include "CReplayOptions.h"

#include "CCommandLine.h"

#include <ctime>
#include <stdexcept>

namespace {

// Two digits at text[at], at most `max`.
int TwoDigits(std::string_view text, std::size_t at, int max) {
    const auto digit = [&](std::size_t i) { return text[i] >= '0' && text[i] <= '9'; };
    if (!digit(at) || !digit(at + 1))
        return -1;
    const int value = (text[at] - '0') * 10 + (text[at + 1] - '0');
    return value <= max ? value : -1;
}

CReplayOptions::Moment ParseMoment(std::string_view text) {
    CReplayOptions::Moment moment;
    if (!text.empty() && text.front() == '+') {
        moment.m_fromStart = true;
        moment.m_seconds =
            static_cast<long long>(CCommandLine::ParseCount(text.substr(1), "--at seconds"));
        return moment;
    }
    const int h =
        text.size() == 8 && text[2] == ':' && text[5] == ':' ? TwoDigits(text, 0, 23) : -1;
    const int m = h < 0 ? -1 : TwoDigits(text, 3, 59);
    const int s = m < 0 ? -1 : TwoDigits(text, 6, 59);
    if (s < 0)
        throw std::runtime_error("time " + CCommandLine::Quoted(text) +
                                 " is neither HH:MM:SS nor +SECONDS");
    moment.m_seconds = h * 3600LL + m * 60LL + s;
    return moment;
}

bool EndsWith(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

} // namespace

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
        } else if (arg == "--journal") {
            options.m_journal = true;
        } else if (arg == "--at") {
            options.m_at = ParseMoment(CCommandLine::ValueOf(args, i));
        } else if (arg == "--series") {
            if (i + 2 >= args.size())
                throw std::runtime_error("--series needs a fields file and a name");
            options.m_seriesFields = args[++i];
            options.m_seriesName = args[++i];
        } else if (arg == "--from") {
            options.m_from = ParseMoment(CCommandLine::ValueOf(args, i));
        } else if (arg == "--to") {
            options.m_to = ParseMoment(CCommandLine::ValueOf(args, i));
        } else if (arg == "--drain-at") {
            options.m_drainAtFile = CCommandLine::ValueOf(args, i);
        } else if (!options.m_seriesFields.empty() && !arg.starts_with('-')) {
            options.m_journals.emplace_back(arg);
        } else {
            CCommandLine::TakeCapture(arg, options.m_capture);
        }
    }
    if (options.m_help || options.m_version)
        return options;
    if (!options.m_seriesFields.empty()) {
        if (!options.m_capture.empty())
            options.m_journals.insert(options.m_journals.begin(), options.m_capture);
        if (options.m_journals.empty())
            throw std::runtime_error("--series needs journal files");
        return options;
    }
    if (options.m_from || options.m_to)
        throw std::runtime_error("--from and --to go with --series");
    if (options.m_chunk != 0 && !options.m_drainAtFile.empty())
        throw std::runtime_error("--chunk and --drain-at cannot be used together");
    if (options.m_capture.empty())
        throw std::runtime_error("no capture file given");
    options.m_journal = options.m_journal || EndsWith(options.m_capture, ".ttyrec");
    if (options.m_at && !options.m_journal)
        throw std::runtime_error("--at needs a journal file (.ttyrec or --journal)");
    return options;
}

CTtyrecRecord::Time CReplayOptions::Moment::In(CTtyrecRecord::Time start) const {
    if (m_fromStart)
        return start + std::chrono::seconds(m_seconds);
    std::time_t startSeconds =
        std::chrono::floor<std::chrono::seconds>(start).time_since_epoch().count();
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &startSeconds);
#else
    localtime_r(&startSeconds, &local);
#endif
    local.tm_hour = static_cast<int>(m_seconds / 3600);
    local.tm_min = static_cast<int>(m_seconds / 60 % 60);
    local.tm_sec = static_cast<int>(m_seconds % 60);
    local.tm_isdst = -1;
    return CTtyrecRecord::Time(std::chrono::seconds(std::mktime(&local)));
}
