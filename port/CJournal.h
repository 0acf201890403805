#pragma once

#include "CJournalFolder.h"
#include "CTerminalScreen.h"
#include "CTtyrecRecord.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QFile>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// The journal: every chunk read from the line, with the time it arrived, appended to a ttyrec
// file in the journal folder. The reader's thread only hands chunks over under a short lock;
// a thread of the journal's own writes them, so a slow or failing disk never holds up the
// line. That thread keeps a screen of its own fed with the same bytes, so every new file (at
// start, at local midnight, after a fault) begins with the exact screen of that moment.
//
// Written bytes reach the file at least every kWriteInterval, so a killed program loses at
// most that much; they are synced to the disk at most once a second. A file that cannot be
// created or written stops the journal with a reason; it tries again in
// a new file (every m_retry), while the live screen goes on untouched.
class CJournal {
public:
    using Time = CTtyrecRecord::Time;
    using Clock = std::function<Time()>;

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
    };

    struct Status {
        QString m_file;         // the file being written; empty while stopped
        QString m_reason;       // why it stopped; empty while writing
        quint64 m_problems = 0; // times it stopped so far
    };

    // Starts writing at once; the first file begins with `screen`'s state.
    CJournal(Settings settings, const CTerminalScreen& screen);
    // Writes what was handed over, syncs and closes.
    ~CJournal();
    CJournal(const CJournal&) = delete;
    CJournal& operator=(const CJournal&) = delete;

    // Reader's thread: the chunk, stamped with the clock now.
    void Feed(QByteArrayView chunk);
    // Blocks until everything handed over so far has been written (or found unwritable).
    void WaitWritten();
    Status CurrentStatus() const;

private:
    struct Chunk {
        Time m_time;
        QByteArray m_bytes;
    };

    using Steady = std::chrono::steady_clock;

    Time Now() const;
    void Run();
    void Take(std::vector<Chunk>& chunks, quint64& dropped, bool& stopping);
    void Append(const Chunk& chunk);
    void Rotate(Time now);
    void BeginFile(Time now);
    void WriteOut();
    void SyncIfDue(bool now);
    void Stop(const QString& reason);
    void CloseFile();
    void SetStatus(const QString& file, const QString& reason);

    const Settings m_settings;
    const CJournalFolder m_folder;

    // Shared with the reader's thread and the window's.
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_written;
    std::vector<Chunk> m_queue;
    qsizetype m_queued = 0;
    quint64 m_dropped = 0;
    quint64 m_handedOver = 0; // chunks fed so far
    quint64 m_done = 0;       // chunks written so far
    quint64 m_rounds = 0;     // passes of the journal's thread so far
    bool m_stop = false;
    bool m_flushWanted = false;
    Status m_status;

    // The journal's thread alone.
    CTerminalScreen m_shadow;
    QFile m_file;
    std::string m_out;    // encoded records not yet written
    bool m_begun = false; // the file holds its whole first record
    bool m_unsynced = false;
    Time m_rotateAt{};
    Steady::time_point m_lastSync{};
    Steady::time_point m_retryAt{};

    std::thread m_thread;
};
