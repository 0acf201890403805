#pragma once

#include "CTtyrecRecord.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The command line of tallyview-replay. Parse throws std::runtime_error with a one-line
// reason on any misuse, so nothing is rendered from a half-understood request.
class CReplayOptions {
public:
    static constexpr std::string_view kUsage =
        "Usage: tallyview-replay [--chunk N | --drain-at FILE] [--state]\n"
        "                        [--journal] [--at HH:MM:SS | --at +SECONDS] CAPTURE\n"
        "       tallyview-replay --series FIELDS_FILE NAME [--from HH:MM:SS] [--to HH:MM:SS]\n"
        "                        JOURNAL...\n";

    // A moment in a journal file: a local clock time on the file's day, or seconds after the
    // file's start.
    struct Moment {
        bool m_fromStart = false;
        long long m_seconds = 0; // since local midnight, or since the start
        // The moment in a journal whose first record is at `start`.
        CTtyrecRecord::Time In(CTtyrecRecord::Time start) const;
    };

    static CReplayOptions Parse(const std::vector<std::string_view>& args);

    bool m_help = false;
    bool m_version = false;
    bool m_state = false;
    std::size_t m_chunk = 0; // 0: no chunking
    std::string m_drainAtFile;
    std::string m_capture;  // "-": standard input
    bool m_journal = false; // a journal file (ttyrec): --journal or a name ending in .ttyrec
    std::optional<Moment> m_at;
    // --series: a field's values over journal files.
    std::string m_seriesFields; // empty: no series
    std::string m_seriesName;
    std::optional<Moment> m_from;
    std::optional<Moment> m_to;
    std::vector<std::string> m_journals;
};
