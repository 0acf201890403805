#pragma once

#include "CTerminalScreen.h"
#include "CTtyrecReader.h"

#include <istream>
#include <optional>

// Plays the records of a journal file into a screen, which then holds the state the live
// screen had at that moment. A torn end stops the play with a note; the records before it
// count.
class CTtyrecPlayer {
public:
    struct Result {
        std::size_t m_records = 0;     // records played
        CTtyrecRecord::Time m_first{}; // time of the first record of the file
        CTtyrecRecord::Time m_last{};  // time of the last record played
        std::string m_note;            // the reader's note on a torn end
    };

    // Every record up to and including the last one at or before `until` (all without it)
    // goes into `screen`, which is drained at the end.
    static Result Play(std::istream& in, CTerminalScreen& screen,
                       std::optional<CTtyrecRecord::Time> until = {});
};
