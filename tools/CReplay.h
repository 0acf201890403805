#pragma once

#include "CDrainSchedule.h"
#include "CReplayOptions.h"
#include "CTerminalScreen.h"

#include <cstddef>
#include <string>
#include <string_view>

// Renders a recorded feed into a screen the way the live program would: every byte through
// ReceiveByte, drains where the schedule says and once at the end.
class CReplay {
public:
    explicit CReplay(const CReplayOptions& options);

    // Reads and renders the capture and returns the text to print. Throws std::runtime_error
    // naming the file on bad input; nothing is returned then.
    std::string Run();
    // For a journal that ends in a torn record: what the reader noted; empty otherwise.
    const std::string& Note() const { return m_note; }

    // What the window shows: the rows without the trailing blank ones, each up to its first
    // NUL, then the status text, the label text and the cursor field.
    static std::string ShownText(const CTerminalScreen& screen);
    // Every byte of the state, one line per item, bytes outside 0x20..0x7E written as \xHH.
    static std::string StateText(const CTerminalScreen& screen);

private:
    void ReadCapture();
    void ReadJournal();
    void Feed(std::string_view bytes);
    void DrainDue();

    CReplayOptions m_options;
    CDrainSchedule m_schedule;
    CTerminalScreen m_screen;
    std::size_t m_fed = 0;
    std::string m_note;
};
