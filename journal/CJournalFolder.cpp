#include "CJournalFolder.h"

#include "CJournalIndex.h"
#include "CJournalIndexFile.h"
#include "CTerminalScreen.h"
#include "CTtyrecPlayer.h"
#include "CTtyrecReader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <fstream>
#include <optional>

QStringList CJournalFolder::Files() const {
    const QDir dir(m_path);
    QStringList files;
    for (const QString& name : dir.entryList({QStringLiteral("*.ttyrec")}, QDir::Files, QDir::Name))
        if (CJournalIndex::IsJournalName(name.toStdString()))
            files << dir.filePath(name);
    return files;
}

QString CJournalFolder::NewFile(const QDateTime& start) const {
    const QString stem =
        QDir(m_path).filePath(start.toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss")));
    QString path = stem + QStringLiteral(".ttyrec");
    // Two files begun within one second (a resumption after a fault) keep apart.
    for (int n = 1; QFileInfo::exists(path); ++n)
        path = stem + QStringLiteral("_%1.ttyrec").arg(n);
    return path;
}

QString CJournalFolder::IndexOf(const QString& journalFile) {
    return QString::fromStdString(
        CJournalIndexFile::PathOf(QFile::encodeName(journalFile).toStdString()).string());
}

// A journal file goes with the index History keeps beside it.
qint64 CJournalFolder::SizeWithIndex(const QString& journalFile) {
    return QFileInfo(journalFile).size() + QFileInfo(IndexOf(journalFile)).size();
}

bool CJournalFolder::RemoveWithIndex(const QString& journalFile) {
    QFile::remove(IndexOf(journalFile));
    return QFile::remove(journalFile);
}

void CJournalFolder::Prune(int days, qint64 maxBytes, const QDateTime& now,
                           const QString& keep) const {
    const QDateTime oldest = now.addDays(-days);
    QStringList files;
    qint64 total = 0;
    for (const QString& path : Files()) {
        if (path != keep && QFileInfo(path).lastModified() < oldest) {
            RemoveWithIndex(path);
            continue;
        }
        files << path;
        total += SizeWithIndex(path);
    }
    for (const QString& path : files) {
        if (total <= maxBytes)
            break;
        const qint64 size = SizeWithIndex(path);
        if (path != keep && RemoveWithIndex(path))
            total -= size;
    }
    // An index whose journal file is gone (deleted by hand) goes too.
    const QDir dir(m_path);
    const auto suffixLength = static_cast<qsizetype>(CJournalIndexFile::kSuffix.size());
    for (const QString& name : dir.entryList({QStringLiteral("*.ttyrec.index")}, QDir::Files)) {
        const QString journalName = name.chopped(suffixLength);
        if (CJournalIndex::IsJournalName(journalName.toStdString()) &&
            !QFileInfo::exists(dir.filePath(journalName)))
            QFile::remove(dir.filePath(name));
    }
}

// A file last written before `hours` ago is not even read: its records are older still, as
// each was written when it came. The others are only scanned for their last record's time,
// and only the newest is interpreted.
QDateTime CJournalFolder::Restore(CTerminalScreen& screen, int hours, const QDateTime& now) const {
    const qint64 maxAge = qint64(hours) * 3600;
    QString newest;
    CTtyrecRecord::Time newestTime{};
    for (const QString& path : Files()) {
        if (QFileInfo(path).lastModified().secsTo(now) >= maxAge)
            continue;
        std::ifstream in(QFile::encodeName(path).toStdString(), std::ios::binary);
        CTtyrecReader reader(in);
        std::optional<CTtyrecRecord::Time> lastOfFile;
        for (CTtyrecRecord record; reader.Next(record, false);)
            lastOfFile = record.m_time;
        if (lastOfFile && (newest.isEmpty() || *lastOfFile > newestTime)) {
            newest = path;
            newestTime = *lastOfFile;
        }
    }
    const QDateTime last = ToDateTime(newestTime);
    if (newest.isEmpty() || last.secsTo(now) >= maxAge)
        return {};
    std::ifstream in(QFile::encodeName(newest).toStdString(), std::ios::binary);
    CTerminalScreen rebuilt;
    CTtyrecPlayer::Play(in, rebuilt);
    screen = rebuilt;
    return last;
}

QDateTime CJournalFolder::ToDateTime(CTtyrecRecord::Time time) {
    return QDateTime::fromMSecsSinceEpoch(
        std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count());
}

CTtyrecRecord::Time CJournalFolder::ToTime(const QDateTime& time) {
    return CTtyrecRecord::Time(std::chrono::milliseconds(time.toMSecsSinceEpoch()));
}
