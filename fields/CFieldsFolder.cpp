#include "CFieldsFolder.h"

#include "CFieldsFeed.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

CFieldsFolder::CFieldsFolder(const QString& folder, CFieldsFeed& feed)
    : m_folder(folder), m_feed(feed) {
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
        m_problem =
            QStringLiteral("cannot make the folder %1").arg(QDir::toNativeSeparators(m_folder));
        return;
    }
    const CFieldValues& values = m_feed.Values();
    QString problem;
    for (const CFieldDefinitions::Field& field : values.Definitions().m_fields) {
        const QByteArray value = values.Field(field.m_name).toUtf8();
        const auto written = m_written.find(field.m_name);
        if (written != m_written.end() && written->second == value)
            continue;
        const QString path = dir.filePath(field.m_name + QStringLiteral(".txt"));
        // A file already holding the value (from the last run) is left as it is.
        QFile old(path);
        if (written == m_written.end() && old.open(QIODevice::ReadOnly) && old.readAll() == value) {
            m_written[field.m_name] = value;
            continue;
        }
        if (QString failed = Store(path, value); !failed.isEmpty())
            problem =
                QStringLiteral("cannot write %1: %2").arg(QDir::toNativeSeparators(path), failed);
        else
            m_written[field.m_name] = value;
    }
    m_problem = problem;
}

QString CFieldsFolder::Store(const QString& path, const QByteArray& value) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    // Written out and checked before the rename: commit() alone can report success after a
    // failed buffered write.
    if (file.write(value) != value.size() || !file.flush())
        return file.errorString();
    return file.commit() ? QString() : file.errorString();
}
