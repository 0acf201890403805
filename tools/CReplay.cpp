#include "CReplay.h"

#include "CCaptureFile.h"
#include "CScreenText.h"
#include "CTtyrecReader.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <stdexcept>

namespace {

void AppendEscaped(std::string& out, std::string_view bytes) {
    static constexpr char kHex[] = "0123456789abcdef";
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\') {
            out += "\\\\";
        } else if (byte >= 0x20 && byte <= 0x7e) {
            out += c;
        } else {
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 0xf];
        }
    }
}

void AppendItem(std::string& out, std::string_view name, std::string_view bytes) {
    out += name;
    out += '|';
    AppendEscaped(out, bytes);
    out += "|\n";
}

CDrainSchedule ScheduleFor(const CReplayOptions& options) {
    if (options.m_chunk != 0)
        return CDrainSchedule::EveryChunk(options.m_chunk);
    if (!options.m_drainAtFile.empty())
        return CDrainSchedule::FromFile(options.m_drainAtFile);
    return CDrainSchedule::AtEndOnly();
}

} // namespace

CReplay::CReplay(const CReplayOptions& options)
    : m_options(options), m_schedule(ScheduleFor(options)) {}

std::string CReplay::Run() {
    ReadCapture();
    DrainDue();
    m_schedule.CheckEnd(m_fed);
    m_screen.ProcessReceived();
    return m_options.m_state ? StateText(m_screen) : ShownText(m_screen);
}

void CReplay::ReadCapture() {
    if (m_options.m_journal)
        ReadJournal();
    else
        CCaptureFile::ReadBlocks(m_options.m_capture,
                                 [this](std::string_view bytes) { Feed(bytes); });
}

// Every record's bytes, up to the moment asked for. A torn end is a note, not a failure: the
// records before it are the journal.
void CReplay::ReadJournal() {
    std::ifstream file;
    if (m_options.m_capture != "-") {
        file.open(m_options.m_capture, std::ios::binary);
        if (!file)
            throw std::runtime_error(m_options.m_capture +
                                     ": cannot open: " + std::strerror(errno));
    }
    std::istream& in = file.is_open() ? file : std::cin;
    CTtyrecReader reader(in);
    CTtyrecRecord record;
    std::optional<CTtyrecRecord::Time> until;
    for (bool first = true; reader.Next(record); first = false) {
        if (first && m_options.m_at)
            until = m_options.m_at->In(record.m_time);
        if (until && record.m_time > *until && !first)
            break;
        Feed(record.m_data);
    }
    if (in.bad())
        throw std::runtime_error(CCaptureFile::DisplayName(m_options.m_capture) + ": cannot read");
    m_note = reader.Note();
}

void CReplay::Feed(std::string_view bytes) {
    while (!bytes.empty()) {
        DrainDue();
        const std::size_t run = std::min(bytes.size(), m_schedule.Next() - m_fed);
        for (const char c : bytes.substr(0, run))
            m_screen.ReceiveByte(c);
        m_fed += run;
        bytes.remove_prefix(run);
    }
}

void CReplay::DrainDue() {
    while (m_schedule.Next() == m_fed) {
        m_screen.ProcessReceived();
        m_schedule.Advance();
    }
}

std::string CReplay::ShownText(const CTerminalScreen& screen) {
    const auto& rows = screen.Rows();
    const std::size_t shown = CScreenText::ShownRowCount(rows);
    std::string out;
    for (std::size_t i = 0; i < shown; ++i) {
        out += CScreenText::UpToNul(rows[i]);
        out += '\n';
    }
    out += screen.StatusText() + '\n';
    out += screen.LabelText() + '\n';
    out += CScreenText::CursorText(screen.Row(), screen.Col()) + '\n';
    return out;
}

std::string CReplay::StateText(const CTerminalScreen& screen) {
    std::string out;
    const auto& rows = screen.Rows();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        char name[24];
        std::snprintf(name, sizeof name, "R%02zu", i);
        AppendItem(out, name, rows[i]);
    }
    AppendItem(out, "STATUS", screen.StatusText());
    AppendItem(out, "LABEL", screen.LabelText());
    AppendItem(out, "CURSOR", std::to_string(screen.Row()) + "," + std::to_string(screen.Col()));
    AppendItem(out, "WIDE", screen.Wide() ? "1" : "0");
    AppendItem(out, "PENDING", std::to_string(screen.PendingSize()));
    return out;
}
