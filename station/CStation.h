#pragma once

#include <QDateTime>
#include <QMetaObject>
#include <QString>
#include <QStringList>
#include <memory>

class CFieldDefinitions;
class CFieldsFeed;
class CFieldsFile;
class CFieldsFolder;
class CJournal;
class CScreenChanges;
class CScreenClock;
class CShareServer;
class CTerminalPort;

// One line and everything it feeds, assembled in one place for the window and the relay alike:
// the settings file, the port, the journal (and the screen restored from it), the publisher and
// the web view, and the fields read from the screen for them and for a folder of text files.
// What takes every chunk of the line is a listener on the port's one list; a new
// output is one more listener started here.
class CStation {
public:
    // With the settings file in the current directory at this moment (the window's).
    CStation();
    explicit CStation(const QString& settingsPath);
    // The web view goes before the screen it reads; the port closes before its listeners end,
    // and the publisher says "offline" on its way out.
    ~CStation();
    CStation(const CStation&) = delete;
    CStation& operator=(const CStation&) = delete;

    CTerminalPort& Port() { return *m_port; }
    const CTerminalPort& Port() const { return *m_port; }
    CShareServer& Share() { return *m_share; }
    CFieldsFeed& Fields() { return *m_fields; }
    // What changed on the screen, announced once per drain of the line, for every reader.
    CScreenChanges& ScreenChanges();

    // The window's start-up: reads the settings, starts the outputs and opens the line, each
    // problem reported by the port. Empty, or why the line is not published.
    QString Load();
    // Restores the screen from the journal, starts the journal and the publisher as the
    // settings ask, before the line opens. Empty, or why the line is not published.
    QString StartOutputs();
    // Publishes as the "publish" setting asks ("off" when absent, or an address), in the place
    // of what was published before; at any time, from the window's thread. Empty, or what is
    // wrong with the setting, which then publishes nothing.
    QString Publish();
    // Stores `setting` as the "publish" setting and publishes as it asks; an address that cannot
    // be used changes nothing. Empty, or what is wrong with it.
    QString ChangePublish(const QString& setting);
    // Shares the screen when the settings ask; false when asked and impossible (the web view's
    // LastError says why).
    bool StartSharing();

    // The fields of the fields file as the settings name it; a file that cannot be used is
    // reported (and left as it is), and no fields are read; so is a file named in the settings
    // that is not there. The file is watched from now on: a change made to it by hand that can
    // be used takes effect everywhere at once (the feed says DefinitionsChanged); one that
    // cannot is reported once, and the fields as they were stay.
    void LoadFields();
    // Definitions that take effect at once everywhere.
    void SetFieldDefinitions(const CFieldDefinitions& definitions);
    // The operator's change from `base` to `edited`, stored in the fields file as it stands now
    // (another's change made meanwhile is kept) and taking effect at once. False and *error (a
    // clause naming the file and the reason) when nothing is stored.
    bool StoreFieldDefinitions(const CFieldDefinitions& base, const CFieldDefinitions& edited,
                               QString* error);
    // The "fields_file" setting, or fields.json beside the settings file.
    QString FieldsFile() const;

    // The "fields_folder" setting: the folder of text files, empty while they are off.
    QString FieldsFolder() const;
    // Stores folder as the "fields_folder" setting (empty: off) and writes its files from now
    // on, in the place of the old folder's. Empty, or why a file could not be written there.
    QString ChangeFieldsFolder(const QString& folder);

    // The "journal_folder" setting, or the folder beside the settings file.
    QString JournalFolder() const;
    // The time of the journal record the screen was restored from; invalid when it was not.
    const QDateTime& RestoredFrom() const { return m_restoredFrom; }
    // Null while the journal is off.
    CJournal* Journal() const;
    // The line, its listeners and its viewers, a line each, for the relay's log.
    QStringList StateLines() const;

private:
    explicit CStation(std::unique_ptr<CTerminalPort> port);
    void StartJournal();
    void StartFieldsFolder();
    // The publisher, if any, takes the fields from now on.
    void FeedPublisher();
    // The whole number the settings hold for `key`, or its default.
    int Number(const char* key) const;

    std::unique_ptr<CTerminalPort> m_port;
    std::unique_ptr<CScreenClock> m_clock; // before its readers, which go first
    std::unique_ptr<CFieldsFeed> m_fields;
    std::unique_ptr<CFieldsFile> m_fieldsFile;
    std::unique_ptr<CFieldsFolder> m_fieldsFolder;
    std::unique_ptr<CShareServer> m_share;
    QMetaObject::Connection m_fieldsToPublisher;
    QDateTime m_restoredFrom;
};
