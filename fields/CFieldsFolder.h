#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <functional>
#include <map>

class CFieldsFeed;

// One text file per field in a folder, NAME.txt holding the value without a newline, for
// broadcast graphics programs that read text files. Each file is replaced whole by a rename
// (a reader polling it never sees it empty or half-written) and only when its value changed.
// The folder is often shared: only a regular file stands to be replaced, never anything it
// holds read or written through; whatever else stands at a name keeps that field out.
class CFieldsFolder : public QObject {
    Q_OBJECT
public:
    using Say = std::function<void(const QString& message)>;

    // Writes every field's file now, and again on every change, until destroyed. `say` hears
    // once of each name where something else stands, while it stands there.
    CFieldsFolder(const QString& folder, CFieldsFeed& feed, Say say);
    ~CFieldsFolder() override;

    const QString& Folder() const { return m_folder; }
    // The last write that failed ("cannot write PATH: why"); empty while all went well.
    const QString& Problem() const { return m_problem; }

private:
    // What this program left at a name: what a file changed since by someone else no longer is.
    struct Written {
        QByteArray m_value;
        qint64 m_size = 0;
        QDateTime m_modified;
    };

    void Write();
    // Empty when the field's file may be replaced, otherwise what stands there, in words.
    QString Obstacle(const QString& name, const QString& path) const;
    // Empty when stored, otherwise why not.
    QString Store(const QString& name, const QString& path, const QByteArray& value);

    QString m_folder;
    CFieldsFeed& m_feed;
    Say m_say;
    std::map<QString, Written> m_written;   // by name
    std::map<QString, QString> m_obstacles; // name -> what stands there, said once
    QString m_problem;
};
