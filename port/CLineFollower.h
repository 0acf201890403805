#pragma once

#include "CLineListener.h"
#include "CTerminalScreen.h"
#include "CTtyrecRecord.h"

#include <QByteArray>
#include <QMutex>
#include <QObject>
#include <QThread>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <vector>

// A listener that follows the line on a thread of its own, for outputs that must never hold up
// the line (the journal, the publisher, the capture). The reader's thread only stamps each chunk
// with the clock and appends it to a bounded inbox. The follower's thread takes the chunks in
// order and, for a follower that needs one, keeps a screen of its own fed with them, started from
// a copy of the live screen, the bytes pending for it included, so that at every chunk it is
// exactly the screen the line has made so far. When the inbox overflowed, that screen has missed
// bytes: the follower then takes no more chunks until the window's thread has given it a copy of
// the live screen at a point between two chunks, and follows on from there.
class CLineFollower : public CLineListener {
public:
    using Time = CTtyrecRecord::Time;
    using Clock = std::function<Time()>;

    struct Chunk {
        Time m_time; // when it arrived
        QByteArray m_bytes;
    };

    struct Options {
        QString m_name;       // the thread's
        qsizetype m_maxInbox; // bytes beyond which chunks are left out (only a hung thread)
        // Chunks are taken at this interval, or as soon as they come when zero.
        std::chrono::milliseconds m_takeEvery{0};
        Clock m_clock; // the system clock when empty
        // Longer chunks are cut into chunks of at most this many bytes, of the same time (0: none
        // are), so that the screen can be seen after each piece.
        qsizetype m_maxChunk = 0;
    };

    ~CLineFollower() override;
    CLineFollower(const CLineFollower&) = delete;
    CLineFollower& operator=(const CLineFollower&) = delete;

    // Reader's thread.
    void Feed(QByteArrayView chunk) final;
    // Before the first chunk.
    void Joined(BetweenChunks betweenChunks) final;
    // Blocks until every chunk handed over before the call has been followed.
    void WaitFollowed();

protected:
    // The screen must hold still meanwhile: no chunk on its way to it, no window drawing it.
    CLineFollower(Options options, const CTerminalScreen& screen);
    // A follower that keeps no screen.
    explicit CLineFollower(Options options);

    // Starts the thread and runs Begin() there; the last step of a subclass's constructor.
    void Start();
    // Follows what is left, runs End() on the thread and stops it; the first step of a
    // subclass's destructor. Once only: later calls do nothing.
    void Finish();

    // Follower's thread.
    virtual void Begin() {}
    virtual void End() {}
    // A chunk, before the screen takes it.
    virtual void Follow(const Chunk& chunk) = 0;
    // The screen has just taken the chunk last followed.
    virtual void Interpreted() {}
    // After every take, chunks or none, the screen then up to date.
    virtual void Followed() {}
    // Bytes left out of the inbox since the last take; the screen no longer is the line's.
    virtual void Dropped(quint64 bytes) = 0;
    // False from a drop until the screen is the line's again.
    bool ShadowCurrent() const { return !m_shadowStale; }
    // Only for a follower made with a screen.
    const CTerminalScreen& Shadow() const { return *m_shadow; }
    CTerminalScreen& Shadow() { return *m_shadow; }
    // Lives on the follower's thread: the parent for its timers and clients.
    QObject* Context() const { return m_context; }
    Time Now() const;

private:
    // Whether chunks go into the inbox.
    enum class Inflow { Taking, Dropping, Reseeding };

    void Take();
    // Window's thread: a copy of the live screen, between two chunks, becomes the next seed.
    void Reseed();
    void StartShadow(std::unique_ptr<CTerminalScreen> copy);

    const Options m_options;
    const CTerminalScreen* m_screen = nullptr; // the live screen, when there is a shadow
    BetweenChunks m_betweenChunks;
    // Lives on the window's thread (the application's), which drains the live screen; a
    // follower with a screen ends there too, so no copy is asked for once it is gone.
    std::unique_ptr<QObject> m_window;
    QThread m_thread;
    QObject* m_context = nullptr;
    QTimer* m_takeTimer = nullptr;

    // Shared with the reader's thread.
    QMutex m_mutex;
    std::vector<Chunk> m_inbox;
    qsizetype m_inboxBytes = 0;
    quint64 m_dropped = 0;
    Inflow m_inflow = Inflow::Taking;
    std::unique_ptr<CTerminalScreen> m_seed; // for the shadow, before the chunks in the inbox

    // Follower's thread alone.
    std::unique_ptr<CTerminalScreen> m_shadow;
    bool m_shadowStale = false;
};
