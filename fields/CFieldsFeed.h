#pragma once

#include "CFieldValues.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>
#include <functional>
#include <set>

class CTerminalScreen;

// The live values of the fields for everything that takes them (the event stream, the text
// folder, the publisher). While anything takes them the screen is drained and read every tick,
// as for the web view's viewers, and a change is announced on the next tick: never more than
// once a tick, however fast the line changes or the values are asked for.
class CFieldsFeed : public QObject {
    Q_OBJECT
public:
    static constexpr int kTickMs = 100;

    // mayDrain tells whether the screen may be drained now (the port is open).
    CFieldsFeed(CTerminalScreen& screen, std::function<bool()> mayDrain);

    // New definitions: every value read afresh, and announced (DefinitionsChanged at once).
    void SetDefinitions(CFieldDefinitions definitions);
    const CFieldDefinitions& Definitions() const { return m_values.Definitions(); }
    // The values as the screen holds them now.
    const CFieldValues& Values();
    // Values() as CFieldValues::ToJson gives them.
    const QByteArray& Json();

    // Whoever takes the values keeps the feed ticking until it lets go.
    void Take(const void* taker);
    void LetGo(const void* taker);
    bool IsTaken() const { return !m_takers.empty(); }

signals:
    // The values changed since the last announcement.
    void Changed();
    // Other definitions are read from now on (stored from the window, or changed in the file).
    void DefinitionsChanged();

private:
    void Read();
    void Tick();

    CTerminalScreen& m_screen;
    std::function<bool()> m_mayDrain;
    CFieldValues m_values;
    QByteArray m_json; // of m_values, made when first asked for after a change
    bool m_unannounced = false;
    std::set<const void*> m_takers;
    QTimer m_tick;
};
