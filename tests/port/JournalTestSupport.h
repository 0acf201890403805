#pragma once

#include "CTerminalScreen.h"
#include "CTtyrecPlayer.h"

#include <QFile>
#include <QString>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

// A screen's whole state, pending bytes included, so two screens compare as a whole.
struct JournalScreen {
    std::vector<std::string> m_rows;
    std::string m_status, m_label, m_pending;
    int m_row, m_col;
    bool m_wide;
    bool operator==(const JournalScreen&) const = default;
};

// The rows that hold anything, for a failure's message.
inline void PrintTo(const JournalScreen& s, std::ostream* out) {
    for (const std::string& row : s.m_rows)
        if (row.find_first_not_of(std::string(" \0", 2)) != std::string::npos)
            *out << "\n|" << row << '|';
    *out << "\nstatus \"" << s.m_status << "\", cursor " << s.m_row << ',' << s.m_col;
}

inline JournalScreen StateOf(const CTerminalScreen& s) {
    return {s.Rows(), s.StatusText(), s.LabelText(), s.PendingBytes(), s.Row(), s.Col(), s.Wide()};
}

// The screen a journal file rebuilds on its own.
inline JournalScreen ReplayAlone(const QString& path) {
    std::ifstream in(QFile::encodeName(path).toStdString(), std::ios::binary);
    CTerminalScreen s;
    CTtyrecPlayer::Play(in, s);
    return StateOf(s);
}
