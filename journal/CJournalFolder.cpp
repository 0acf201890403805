#include "CJournalFolder.h"

#include "CScreenCommands.h"
#include "CTerminalScreen.h"
#include "CTtyrecPlayer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <fstream>

QStringList CJournalFolder::Files() const {
    const QDir dir(m_path);
    QStringList files;
    for (const QString& name : dir.entryList({QStringLiteral("*.ttyrec")}, QDir::Files, QDir::Name))
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

void CJournalFolder::Prune(int days, qint64 maxBytes, const QDateTime& now,
                           const QString& keep) const {
    const QDateTime oldest = now.addDays(-days);
    QList<QFileInfo> files;
    qint64 total = 0;
    for (const QString& path : Files()) {
        const QFileInfo info(path);
        if (path != keep && info.lastModified() < oldest) {
            QFile::remove(path);
            continue;
        }
        files << info;
        total += info.size();
    }
    for (const QFileInfo& info : files) {
        if (total <= maxBytes)
            break;
        if (info.filePath() != keep && QFile::remove(info.filePath()))
            total -= info.size();
    }
}

QDateTime CJournalFolder::Restore(CTerminalScreen& screen, int hours, const QDateTime& now) const {
    const QStringList files = Files();
    if (files.isEmpty())
        return {};
    std::ifstream in(QFile::encodeName(files.constLast()).toStdString(), std::ios::binary);
    CTerminalScreen rebuilt;
    const CTtyrecPlayer::Result played = CTtyrecPlayer::Play(in, rebuilt);
    const QDateTime last = ToDateTime(played.m_last);
    if (played.m_records == 0 || last.secsTo(now) >= qint64(hours) * 3600)
        return {};
    screen.ReceiveBytes(CScreenCommands::Of(rebuilt));
    screen.ProcessReceived();
    return last;
}

QDateTime CJournalFolder::ToDateTime(CTtyrecRecord::Time time) {
    return QDateTime::fromMSecsSinceEpoch(
        std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count());
}

CTtyrecRecord::Time CJournalFolder::ToTime(const QDateTime& time) {
    return CTtyrecRecord::Time(std::chrono::milliseconds(time.toMSecsSinceEpoch()));
}
