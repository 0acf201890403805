#pragma once

#include "CFieldValues.h"
#include "CPacedAction.h"

#include <QByteArray>
#include <QObject>
#include <set>

class CScreenChanges;
class CTerminalScreen;

// The live values of the fields for everything that takes them (the event stream, the text
// folder, the publisher). While anything takes them the feed reads the screen's changes as they
// are announced, re-reading only the fields and tables whose rows changed, and announces a
// change of the values at once, but never more than once for every kTickMs (CPacedAction),
// however fast the line changes or the values are asked for.
class CFieldsFeed : public QObject {
    Q_OBJECT
public:
    static constexpr int kTickMs = 100;

    explicit CFieldsFeed(CScreenChanges& changes);
    ~CFieldsFeed() override;

    // New definitions: every value read afresh, and announced (DefinitionsChanged at once).
    void SetDefinitions(CFieldDefinitions definitions);
    const CFieldDefinitions& Definitions() const { return m_values.Definitions(); }
    // The values as the screen holds them now.
    const CFieldValues& Values();
    // Values() as CFieldValues::ToJson gives them.
    const QByteArray& Json();

    // Whoever takes the values keeps the feed reading the changes until it lets go.
    void Take(const void* taker);
    void LetGo(const void* taker);
    bool IsTaken() const { return !m_takers.empty(); }

signals:
    // The values changed since the last announcement.
    void Changed();
    // Other definitions are read from now on (stored from the window, or changed in the file).
    void DefinitionsChanged();

private:
    // The screen brought up to date, then read where it changed.
    void CatchUp();
    void Read(std::uint64_t changedRows);
    void Announced();
    void Announce();

    CScreenChanges& m_changes;
    CTerminalScreen& m_screen;
    CFieldValues m_values;
    QByteArray m_json; // of m_values, made when first asked for after a change
    bool m_unannounced = false;
    std::set<const void*> m_takers;
    int m_reader = -1; // while taken
    CPacedAction m_announce;
};
