#pragma once

#include <QObject>
#include <QString>
#include <map>

class CFieldsFeed;

// One text file per field in a folder, NAME.txt holding the value without a newline, for
// broadcast graphics programs that read text files. Each file is replaced whole by a rename
// (a reader polling it never sees it empty or half-written) and only when its value changed.
class CFieldsFolder : public QObject {
    Q_OBJECT
public:
    // Writes every field's file now, and again on every change, until destroyed.
    CFieldsFolder(const QString& folder, CFieldsFeed& feed);
    ~CFieldsFolder() override;

    // The last write that failed ("cannot write PATH: why"); empty while all went well.
    const QString& Problem() const { return m_problem; }

private:
    void Write();
    // Empty when stored, otherwise why not.
    QString Store(const QString& path, const QByteArray& value);

    QString m_folder;
    CFieldsFeed& m_feed;
    std::map<QString, QByteArray> m_written; // name -> value in its file
    QString m_problem;
};
