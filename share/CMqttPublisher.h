#pragma once

#include "CLineFollower.h"
#include "CMqttAddress.h"
#include "CShareScreen.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QMutex>
#include <array>
#include <deque>
#include <vector>

class CMqttClient;
class QTimer;

// Publishes the line to an MQTT broker under TOPIC, for mirrors and viewers anywhere:
//   TOPIC/line      the line as numbered records (QoS 1, in order), the chunks taken together
//                   in one, up to kRecordBytes
//   TOPIC/keyframe  retained: the screen as commands and the number of the last record in it,
//                   renewed within kKeyframeDelayMs of a change and at least every
//                   kKeyframeRenewMs, and at every connect
//   TOPIC/screen    retained: the whole screen as the web view's own message, when it has
//                   changed, at most kScreensPerSecond in any second, kScreenGapMs apart
//   TOPIC/fields    retained: the fields' values as the event stream sends them, when changed
//   TOPIC/state     retained: "online", and "offline" as the broker's last will
// It follows the line on a thread of its own, whose screen makes a keyframe exact at its number,
// and talks to the broker from there. What
// the broker has not acknowledged waits in a bounded backlog and is sent again after a
// reconnect; when the backlog is full its unsent records are dropped and a fresh
// keyframe takes their place, from which mirrors resynchronise. A newer keyframe or screen
// takes the place of one not yet sent, so those never pile up. Records are cut to the largest
// packet the broker takes; any other message larger than that is dropped rather than sent (the
// broker would close the connection, again and again), and the state says so.
class CMqttPublisher : public CLineFollower {
public:
    static constexpr int kKeyframeDelayMs = 1000;
    // A mirror that finds no retained keyframe (a cluster node lost it while settling) waits
    // for the next: on a quiet line, at most this long.
    static constexpr int kKeyframeRenewMs = 10000;
    static constexpr int kScreensPerSecond = 10;
    // Under a tenth of a second, so changes at exactly ten a second (a clock showing tenths)
    // go at once rather than wait for a timer's jitter; a flood still goes out evenly.
    static constexpr int kScreenGapMs = 90;
    static constexpr qsizetype kMaxBacklog = 8 * 1024 * 1024;
    // Publications handed to the broker and not yet acknowledged.
    static constexpr int kWindow = 64;
    // Chunks handed over and not yet taken by the publisher's thread beyond which publishing
    // stops (its screen would no longer be the line's): only a thread that hangs gets there.
    static constexpr qsizetype kMaxIncoming = 32 * 1024 * 1024;
    // Chunks are taken this often and go together: a record costs the broker and every mirror a
    // message, so their number follows this clock and not how finely the line happened to be
    // read (a quiet machine reads a fast line in many more, smaller chunks than a busy one).
    static constexpr std::chrono::milliseconds kTakeEvery{20};
    static constexpr qsizetype kRecordBytes = 64 * 1024;

    // Starts publishing at once; the first keyframe holds `screen` as it is now with the bytes
    // pending for it, so no chunk may be on its way to it meanwhile and its window may not be
    // drawing it (create it before the port opens, or through the port's AddListener).
    // `maxPacket`: the largest packet the broker takes when it does not say so (0: any).
    CMqttPublisher(const CMqttAddress& address, const CTerminalScreen& screen,
                   qsizetype maxBacklog = kMaxBacklog, qsizetype maxPacket = 0);
    // Says "offline" and disconnects.
    ~CMqttPublisher() override;

    // A line on the connection, and one for each kind of message dropped as too large.
    QString StateLine() const override;
    // The fields' values to publish from now on (and again after every connect); from any thread.
    void PublishFields(const QByteArray& json);

private:
    enum class Kind { Line, Keyframe, Screen, Fields, Count };
    struct Outgoing {
        Kind m_kind;
        QByteArray m_payload;
        int m_id = 0; // the client's message id once handed over
    };

    // Publisher's thread.
    void Begin() override;
    void End() override;
    void Follow(const Chunk& chunk) override;
    void Followed() override;
    void Dropped(quint64 bytes) override;
    // The chunks followed since the last record, as the next records.
    void TakePending();
    // The most bytes of the line in a record that the broker takes.
    qsizetype RecordBytes() const;
    QByteArray Topic(Kind kind) const;
    // False when a record did not fit: the backlog overflowed into a keyframe.
    bool Enqueue(Kind kind, QByteArray payload);
    // Enqueues `payload` instead of the one of its kind not yet handed over, if any.
    void Replace(Kind kind, QByteArray payload);
    void EnqueueKeyframe();
    void ScreenChanged();
    qint64 NextScreenAt() const;
    void EnqueueScreen(bool always);
    void Overflow();
    void Pump();
    // Drops the next message to hand over, which the broker would not take.
    void DropTooLarge();
    void OnConnected();
    void OnDisconnected();
    void OnAcknowledged(int id);
    void UpdateState();

    const CMqttAddress m_address;
    const qsizetype m_maxBacklog;
    const qsizetype m_maxPacket;

    mutable QMutex m_stateMutex; // the window's thread reads the state
    QString m_state;

    // Publisher's thread alone.
    bool m_stalled = false;
    QByteArray m_pending;            // chunks followed and not yet in a record
    Time m_pendingTime{};            // the first one's
    std::vector<QByteArray> m_taken; // records of the chunks followed in this take
    quint64 m_sequence;
    CMqttClient* m_client = nullptr;
    QTimer* m_keyframeDelay = nullptr;
    QTimer* m_keyframeRenew = nullptr;
    QTimer* m_screenDelay = nullptr;
    QElapsedTimer m_clock;
    std::deque<qint64> m_screenTimes; // when the screens of the last second were enqueued
    CShareScreen m_screen;            // the last one enqueued
    QByteArray m_fields;              // the last fields enqueued; empty: none
    std::deque<Outgoing> m_backlog;   // oldest first; the first m_handed are with the broker
    int m_handed = 0;
    qsizetype m_backlogBytes = 0;
    quint64 m_dropped = 0;
    // By kind, the first message dropped as too large since one of its kind last went out, and
    // the limit it met: said once however many follow.
    struct TooLarge {
        qsizetype m_size = 0; // 0: none
        qsizetype m_limit = 0;
    };
    std::array<TooLarge, static_cast<std::size_t>(Kind::Count)> m_tooLarge{};
};
