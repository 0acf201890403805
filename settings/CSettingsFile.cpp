#include "CSettingsFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>

#ifndef Q_OS_WIN
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

#ifndef Q_OS_WIN
// What stat() makes of the path when it is not a regular file, in words.
QString PosixKind(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) {
        if (errno == ELOOP)
            return QStringLiteral("it is a loop of symbolic links");
        return {};
    }
    if (S_ISFIFO(st.st_mode))
        return QStringLiteral("it is a named pipe (FIFO), not a file");
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))
        return QStringLiteral("it is a device, not a file");
    if (S_ISSOCK(st.st_mode))
        return QStringLiteral("it is a socket, not a file");
    return {};
}
#endif

// The new file takes the old one's owner and group, so that storing as root does not take the
// file from its owner. Only root may give a file away; anyone else keeps the file as their own.
void KeepOwner([[maybe_unused]] QSaveFile& file, [[maybe_unused]] const QFileInfo& old) {
#ifndef Q_OS_WIN
    if (!old.exists())
        return;
    [[maybe_unused]] const int refused = ::fchown(file.handle(), old.ownerId(), old.groupId());
#endif
}

} // namespace

bool CSettingsFile::IsMissing() const {
    const QFileInfo info(m_path);
    return !info.exists() && !info.isSymLink();
}

QString CSettingsFile::KindProblem() const {
    const QFileInfo info(m_path);
    if (info.isDir())
        return QStringLiteral("it is a folder, not a file");
#ifndef Q_OS_WIN
    if (QString kind = PosixKind(m_path); !kind.isEmpty())
        return kind;
#endif
    if (info.isSymLink() && !info.exists())
        return QStringLiteral("it is a symbolic link to %1, which does not exist")
            .arg(QDir::toNativeSeparators(info.symLinkTarget()));
    if (!info.isFile())
        return QStringLiteral("it is not a regular file");
    return {};
}

QString CSettingsFile::OpenForReading(QFile& file) const {
    if (QString problem = KindProblem(); !problem.isEmpty())
        return problem;
    file.setFileName(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("it cannot be read (%1)").arg(file.errorString());
    return {};
}

QString CSettingsFile::Replace(const std::function<QString(QIODevice&)>& write) const {
    const QFileInfo old(m_path);
    // An existing file this user may not write stays as it is, even where the directory
    // would let it be replaced.
    QFile existing(m_path);
    if (old.exists() && !existing.open(QIODevice::Append | QIODevice::ExistingOnly))
        return existing.errorString();
    existing.close();
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    if (QString problem = write(file); !problem.isEmpty())
        return problem; // the unfinished new file is discarded
    // Written out and checked before the rename: commit() alone can report success after the
    // buffered write failed (a full disk), and would then put an empty file in place.
    if (!file.flush())
        return file.errorString();
    KeepOwner(file, old);
    if (!file.commit())
        return file.errorString();
    RemoveLeftovers();
    return {};
}

// A program killed between writing its new file and renaming it leaves that file behind as
// "Tallyview.cfg.XXXXXX", six random letters of both cases. A copy an operator made under a
// word in one case (".backup", ".BACKUP") is left alone.
void CSettingsFile::RemoveLeftovers() const {
    const QFileInfo info(m_path);
    const QRegularExpression leftover(
        QRegularExpression::anchoredPattern(QRegularExpression::escape(info.fileName()) +
                                            QStringLiteral("\\.(?=[a-zA-Z]*[a-z])(?=[a-zA-Z]*[A-Z])"
                                                           "[a-zA-Z]{6}")));
    const QDir dir = info.dir();
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden | QDir::NoSymLinks))
        if (leftover.match(name).hasMatch())
            QFile::remove(dir.filePath(name));
}
