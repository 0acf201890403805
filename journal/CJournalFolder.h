#pragma once

#include "CTtyrecRecord.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

class CTerminalScreen;

// The journal folder: one ttyrec file per start of the program and per day, named from the
// local time it was begun (YYYY-MM-DD_HH-MM-SS.ttyrec), so names sort by age but for the hour
// that repeats when the clocks go back. Other files in it are not the journal's.
class CJournalFolder {
public:
    static constexpr const char* kFolderName = "journal";

    explicit CJournalFolder(const QString& path) : m_path(path) {}

    const QString& Path() const { return m_path; }
    // Full paths of the journal files, in name order.
    QStringList Files() const;
    // A path for a file begun at `start` that no file has yet.
    QString NewFile(const QDateTime& start) const;
    // Deletes files, oldest first, that were last written more than `days` days before `now`
    // or that bring the total beyond `maxBytes`; `keep` (the file being written) stays. The
    // index History keeps beside a file goes with it.
    void Prune(int days, qint64 maxBytes, const QDateTime& now, const QString& keep = {}) const;
    // Plays the file with the newest last record into `screen` when that record is less than
    // `hours` before `now`; returns its time, or an invalid time when nothing was restored (no
    // file with a whole record, or none recent enough).
    QDateTime Restore(CTerminalScreen& screen, int hours, const QDateTime& now) const;

    static QDateTime ToDateTime(CTtyrecRecord::Time time);
    static CTtyrecRecord::Time ToTime(const QDateTime& time);

private:
    static QString IndexOf(const QString& journalFile);
    static qint64 SizeWithIndex(const QString& journalFile);
    static bool RemoveWithIndex(const QString& journalFile);

    QString m_path;
};
