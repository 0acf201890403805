#pragma once

#include <QString>
#include <QStringList>

class CTerminalScreen;

// The screen as the main window would show it after a refresh at this moment: the rows left
// once the trailing blank rows are dropped, each cut at its first NUL, and the three fields,
// all in the window's characters.
struct CShareScreen {
    QStringList m_rows;
    QString m_status;
    QString m_label;
    QString m_cursor;

    static CShareScreen Of(const CTerminalScreen& screen);

    // The JSON update that turns previous into this screen, every row when there is none:
    // {"n": rows shown, "rows": {"index": text, ...}, "status", "label", "cursor"}.
    QString UpdateFrom(const CShareScreen* previous) const;

    bool operator==(const CShareScreen&) const = default;
};
