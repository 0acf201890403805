#pragma once

#include "CFieldDefinitions.h"

#include <QByteArray>
#include <QFileSystemWatcher>
#include <QObject>
#include <QString>
#include <QTimer>
#include <optional>

class CFieldsChange;

// The fields file as the program serves it: read, then watched, so that a change made by hand
// (an editor saving by rename or writing in place) is taken up at once; and stored with the
// window's own change made to whatever stands in the file by then.
class CFieldsFile : public QObject {
    Q_OBJECT
public:
    // How long a change is let settle before it is read: an editor writes in several steps.
    static constexpr int kSettleMs = 200;

    explicit CFieldsFile(QString path);

    const QString& Path() const { return m_path; }
    // Reads the file (CFieldDefinitions::Load) and watches it from now on. What stands there now
    // is what the program serves, even if it could not be used: the first change stored
    // replaces a file that could not be used.
    std::optional<CFieldDefinitions> Load(QString* message);
    // Stores the change from `base` to `edited`, made to the file as it stands now, so that
    // whatever someone else changed there is kept (a file that could not be used since it was
    // read is replaced by `edited`). The definitions stored; nullopt and *error (a clause) when
    // nothing is stored: a file changed meanwhile that cannot be used, an entry changed both
    // there and here (the file as it stands is then taken up), or a write that failed.
    std::optional<CFieldDefinitions> Store(const CFieldDefinitions& base,
                                           const CFieldDefinitions& edited, QString* error);

signals:
    // Someone else changed the file, and it can be used.
    void Changed(const CFieldDefinitions& definitions);
    // Someone else changed the file, and it cannot be used: the message names the file, the
    // entry and the problem; once for each content.
    void Refused(const QString& message);

private:
    void Watch();
    void Check();
    void TakeUp(const QByteArray& bytes);
    // The change made to the file's current definitions (read as bytes); nullopt and *error
    // when both changed an entry (the file as it stands is then taken up) or a rule breaks.
    std::optional<CFieldDefinitions> OnTopOf(const CFieldDefinitions& current,
                                             const QByteArray& bytes, const CFieldsChange& change,
                                             QString* error);
    QString Shown() const;

    QString m_path;
    QByteArray m_served;    // what the file held when read or stored here
    QByteArray m_refused;   // the last content refused
    QByteArray m_unsettled; // a content that could not be used, read once
    QFileSystemWatcher m_watcher;
    QTimer m_settle;
};
