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
#include <vector>

// A listener that follows the line on a thread of its own, for outputs that must never hold up
// the line (the journal, the publisher). The reader's thread only stamps each chunk with the
// clock and appends it to a bounded inbox. The follower's thread takes the chunks in order and
// keeps a screen of its own fed with them, seeded from the live screen and the bytes pending
// for it, so that at every chunk it is exactly the screen the line has made so far.
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
    };

    ~CLineFollower() override;
    CLineFollower(const CLineFollower&) = delete;
    CLineFollower& operator=(const CLineFollower&) = delete;

    // Reader's thread.
    void Feed(QByteArrayView chunk) final;
    // Blocks until every chunk handed over before the call has been followed.
    void WaitFollowed();

protected:
    // The screen must hold still meanwhile: no chunk on its way to it, no window drawing it.
    CLineFollower(Options options, const CTerminalScreen& screen);

    // Starts the thread and runs Begin() there; the last step of a subclass's constructor.
    void Start();
    // Follows what is left, runs End() on the thread and stops it; the first step of a
    // subclass's destructor.
    void Finish();

    // Follower's thread.
    virtual void Begin() {}
    virtual void End() {}
    // A chunk, before the screen takes it.
    virtual void Follow(const Chunk& chunk) = 0;
    // After every take, chunks or none, the screen then up to date.
    virtual void Followed() {}
    // Bytes left out of the inbox since the last take; the screen no longer is the line's.
    virtual void Dropped(quint64 bytes) = 0;
    const CTerminalScreen& Shadow() const { return m_shadow; }
    // Lives on the follower's thread: the parent for its timers and clients.
    QObject* Context() const { return m_context; }
    Time Now() const;

private:
    void Take();

    const Options m_options;
    QThread m_thread;
    QObject* m_context = nullptr;
    QTimer* m_takeTimer = nullptr;

    // Shared with the reader's thread.
    QMutex m_mutex;
    std::vector<Chunk> m_inbox;
    qsizetype m_inboxBytes = 0;
    quint64 m_dropped = 0;

    // Follower's thread alone.
    CTerminalScreen m_shadow;
};
