#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>

class CTerminalScreen;

// What changed on one screen, gathered once after each drain and kept for each of its readers
// until that reader takes it: one reader's taking never hides a change from another. Whoever
// drains the screen (a clock above) calls Gather; the readers subscribe and take.
class CScreenChanges {
public:
    struct Change {
        std::uint64_t m_rows = 0; // bit r for row r
        bool m_cursor = false;
        bool m_messages = false; // the status or the label text
        bool m_width = false;
        bool Any() const { return m_rows != 0 || m_cursor || m_messages || m_width; }
        Change& operator|=(const Change& other);
        bool operator==(const Change&) const = default;
        static Change All();
    };
    using Announce = std::function<void()>;

    explicit CScreenChanges(CTerminalScreen& screen);
    CScreenChanges(const CScreenChanges&) = delete;
    CScreenChanges& operator=(const CScreenChanges&) = delete;

    CTerminalScreen& Screen() const { return m_screen; }

    // A new reader, whose first Take gives everything; `announce` (may be empty) runs after every
    // Gather that found a change. The returned number names the reader.
    int Subscribe(Announce announce);
    void Unsubscribe(int reader);
    // Someone reads the changes: the screen is worth draining.
    bool IsWatched() const { return !m_readers.empty(); }
    // Everything that changed since `reader` last took.
    Change Take(int reader);

    // Takes what the screen marked since the last Gather (and what it does not mark: cursor,
    // messages, width), adds it for every reader and announces it to each.
    void Gather();
    // Drains the screen now through the clock, then gathers; only gathers while none is set.
    void CatchUp();
    // The clock: how it drains at once, and how it learns that a reader came (to drain what
    // waited while nobody watched).
    void SetClock(std::function<void()> drainNow, std::function<void()> watched);

private:
    struct Reader {
        Announce m_announce;
        Change m_unread;
    };
    Change Seen();

    CTerminalScreen& m_screen;
    std::map<int, Reader> m_readers;
    int m_nextReader = 0;
    std::function<void()> m_drainNow;
    std::function<void()> m_watched;
    // The screen as last gathered, for what it does not mark.
    std::string m_status;
    std::string m_label;
    int m_row = 0;
    int m_col = 0;
    bool m_wide = false;
};
