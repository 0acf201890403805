#pragma once

#include "CIndexedRecord.h"
#include "CJournalFolder.h"
#include "CJournalLiveFeed.h"
#include "CLineFollower.h"

#include <QFile>
#include <QString>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// The journal: every chunk read from the line, with the time it arrived, appended to a ttyrec
// file in the journal folder. It follows the line on a thread of its own, so a slow or failing
// disk never holds up the line, and every new file (at start, at local midnight, after a
// fault) begins with the follower's screen: the exact screen of that moment.
//
// Written bytes reach the file at least every kWriteInterval, so a killed program loses at
// most that much; they are synced to the disk at most once a second. A file that cannot be
// created or written stops the journal with a reason; it tries again in
// a new file (every m_retry), while the live screen goes on untouched. After chunks were left
// out, the next file begins with the live screen once the journal takes chunks again.
//
// While History follows the journal, the records written are handed to it as its index takes
// them (CJournalLiveFeed), from the follower's screen: History never reads them back.
class CJournal : public CLineFollower {
public:
    static constexpr std::chrono::milliseconds kWriteInterval{200};
    static constexpr std::chrono::seconds kSyncInterval{1};
    // Bytes handed over but not yet taken by the journal's thread beyond which further chunks
    // are left out of the journal (hours of line traffic: only a disk that hangs gets there).
    static constexpr qsizetype kMaxQueued = 32 * 1024 * 1024;
    // The longest record written: a longer chunk goes into several records of the same time.
    static constexpr std::size_t kMaxRecord = 1024 * 1024;

    struct Settings {
        QString m_folder;
        int m_days = 30;
        qint64 m_maxBytes = 2048LL * 1024 * 1024;
        Clock m_clock; // the time of day; the system clock when empty
        std::chrono::milliseconds m_retry{5000};
        qsizetype m_maxQueued = kMaxQueued;
    };

    struct Status {
        QString m_file;         // the file being written; empty while stopped
        QString m_reason;       // why it stopped; empty while writing
        quint64 m_problems = 0; // times it stopped so far
    };

    // Starts writing at once; the first file begins with `screen`'s state.
    CJournal(Settings settings, const CTerminalScreen& screen);
    // Writes what was handed over, syncs and closes.
    ~CJournal() override;

    // Blocks until everything handed over so far has been written (or found unwritable).
    void WaitWritten() { WaitFollowed(); }
    Status CurrentStatus() const;
    // "Journal: writing to FILE" or "Journal: stopped: REASON".
    QString StateLine() const override;

private:
    using Steady = std::chrono::steady_clock;

    void Begin() override;
    void End() override;
    void Follow(const Chunk& chunk) override;
    void Interpreted() override;
    void Followed() override;
    // Begins or ends feeding History as it asks, between two takes.
    void FeedHistory();
    void Dropped(quint64 bytes) override;
    void Rotate(Time now);
    void BeginFile(Time now);
    void WriteOut();
    void SyncIfDue(bool now);
    void Stop(const QString& reason);
    void CloseFile();
    void AddRecord(Time time, std::string_view bytes);
    void SetStatus(const QString& file, const QString& reason);

    const Settings m_settings;
    const CJournalFolder m_folder;
    const std::shared_ptr<CJournalLiveFeed> m_feed;

    mutable std::mutex m_statusMutex; // the window's thread reads the status
    Status m_status;

    // The journal's thread alone.
    QFile m_file;
    std::string m_out;    // encoded records not yet written
    bool m_begun = false; // the file holds its whole first record
    bool m_unsynced = false;
    Time m_rotateAt{};
    Steady::time_point m_lastSync{};
    Steady::time_point m_retryAt{};
    std::uint64_t m_offset = 0;            // where the next record goes in the file
    std::uint64_t m_blockBytes = 0;        // line bytes since History's index began its last block
    std::uint64_t m_feeding = 0;           // History's feed, while it runs
    std::vector<CIndexedRecord> m_indexed; // fed once written
    bool m_indexing = false;               // the last one waits for the screen to take its bytes
};
