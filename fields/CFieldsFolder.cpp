#include "CFieldsFolder.h"

#include "CFieldsFeed.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QRandomGenerator>
#include <filesystem>
#include <system_error>

namespace {

QString Native(const QString& path) {
    return QDir::toNativeSeparators(path);
}

std::filesystem::path SystemPath(const QString& path) {
    return std::filesystem::path(path.toStdU16String());
}

// What stands at `info`, when it is not a regular file, in words; only its entry is looked at,
// so a pipe or a device is never opened.
QString NotAFile(const QFileInfo& info) {
    if (info.isSymLink())
        return QStringLiteral("a symbolic link");
    if (!info.exists() || info.isFile())
        return {};
    if (info.isDir())
        return QStringLiteral("a folder");
    return QStringLiteral("a named pipe, a device or a socket");
}

} // namespace

CFieldsFolder::CFieldsFolder(const QString& folder, CFieldsFeed& feed, Say say)
    : m_folder(folder), m_feed(feed), m_say(std::move(say)) {
    connect(&m_feed, &CFieldsFeed::Changed, this, &CFieldsFolder::Write);
    m_feed.Take(this);
    Write();
}

CFieldsFolder::~CFieldsFolder() {
    m_feed.LetGo(this);
}

void CFieldsFolder::Write() {
    const QDir dir(m_folder);
    if (!dir.exists() && !QDir().mkpath(m_folder)) {
        m_problem = QStringLiteral("cannot make the folder %1").arg(Native(m_folder));
        return;
    }
    const CFieldValues& values = m_feed.Values();
    QString problem;
    QStringList said;
    for (const CFieldDefinitions::Field& field : values.Definitions().m_fields) {
        const QByteArray value = values.Field(field.m_name).toUtf8();
        const auto written = m_written.find(field.m_name);
        if (written != m_written.end() && written->second.m_value == value)
            continue;
        const QString path = dir.filePath(field.m_name + QStringLiteral(".txt"));
        if (const QString obstacle = Obstacle(field.m_name, path); !obstacle.isEmpty()) {
            if (std::exchange(m_obstacles[field.m_name], obstacle) != obstacle)
                said << QStringLiteral("The fields folder holds %1 at %2, not a file Tallyview "
                                       "wrote: it is left as it is, and the field \"%3\" is not "
                                       "written there. Remove it to have the field written.")
                            .arg(obstacle, Native(path), field.m_name);
            continue;
        }
        m_obstacles.erase(field.m_name);
        if (QString failed = Store(field.m_name, path, value); !failed.isEmpty())
            problem = QStringLiteral("cannot write %1: %2").arg(Native(path), failed);
    }
    m_problem = problem;
    // A message may wait for the operator in an event loop of its own, where the fields change
    // again or this folder is dropped.
    const Say say = m_say;
    const QPointer<CFieldsFolder> alive(this);
    for (const QString& message : said)
        if (alive)
            say(message);
}

QString CFieldsFolder::Obstacle(const QString& name, const QString& path) const {
    const QFileInfo info(path);
    if (QString kind = NotAFile(info); !kind.isEmpty())
        return kind;
    // A file from before this start is taken as the last run's; one that changed since this
    // run wrote it is someone else's now.
    const auto written = m_written.find(name);
    if (!info.exists() || written == m_written.end())
        return {};
    if (info.size() != written->second.m_size || info.lastModified() != written->second.m_modified)
        return QStringLiteral("a file changed by another program");
    return {};
}

// A new file of its own, made where nothing stood, then renamed over the name: the rename
// replaces the entry, never writing through whatever it held.
QString CFieldsFolder::Store(const QString& name, const QString& path, const QByteArray& value) {
    QFile file(QStringLiteral("%1/.%2.txt.%3")
                   .arg(m_folder, name)
                   .arg(QRandomGenerator::system()->generate64(), 16, 16, QLatin1Char('0')));
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return file.errorString();
    const bool whole = file.write(value) == value.size() && file.flush();
    const QString why = file.errorString();
    file.close();
    std::error_code error;
    if (whole)
        std::filesystem::rename(SystemPath(file.fileName()), SystemPath(path), error);
    if (!whole || error) {
        file.remove();
        return whole ? QString::fromStdString(error.message()) : why;
    }
    const QFileInfo info(path);
    m_written[name] = {value, info.size(), info.lastModified()};
    return {};
}
