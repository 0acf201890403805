#pragma once

#include "CLineListener.h"
#include "CMqttAddress.h"
#include "CShareScreen.h"
#include "CTerminalScreen.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QMutex>
#include <QThread>
#include <deque>
#include <vector>

class CMqttClient;
class CTerminalPort;
class QTimer;

// Publishes the line to an MQTT broker under TOPIC, for mirrors and viewers anywhere:
//   TOPIC/line      every chunk as a numbered record (QoS 1, in order)
//   TOPIC/keyframe  retained: the screen as commands and the number of the last record in it,
//                   renewed within kKeyframeDelayMs of a change and at least every
//                   kKeyframeRenewMs, and at every connect
//   TOPIC/screen    retained: the whole screen as the web view's own message, when it has
//                   changed, at most kScreensPerSecond in any second, kScreenGapMs apart
//   TOPIC/state     retained: "online", and "offline" as the broker's last will
// The reader's thread only hands chunks over; a thread of the publisher's own keeps a screen
// fed with the same bytes (so a keyframe is exact at its number) and talks to the broker. What
// the broker has not acknowledged waits in a bounded backlog and is sent again after a
// reconnect; when the backlog is full its unsent records are dropped and a fresh
// keyframe takes their place, from which mirrors resynchronise. A newer keyframe or screen
// takes the place of one not yet sent, so those never pile up.
class CMqttPublisher : public CLineListener {
public:
    static constexpr int kKeyframeDelayMs = 1000;
    static constexpr int kKeyframeRenewMs = 30000;
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

    // Starts publishing at once; the first keyframe holds `screen` as it is now with the bytes
    // pending for it, so no chunk may be on its way to it meanwhile and its window may not be
    // drawing it (create it before the port opens, or as AttachTo does).
    CMqttPublisher(const CMqttAddress& address, const CTerminalScreen& screen,
                   qsizetype maxBacklog = kMaxBacklog);
    // Says "offline" and disconnects.
    ~CMqttPublisher() override;
    CMqttPublisher(const CMqttPublisher&) = delete;
    CMqttPublisher& operator=(const CMqttPublisher&) = delete;

    static constexpr const char* kOption = "publish";

    // Publishes as the port's "publish" setting asks ("off" when absent, or an address), in the
    // place of what was published before; at any time, from the window's thread. Empty, or
    // what is wrong with the setting, which then publishes nothing.
    static QString AttachTo(CTerminalPort& port);
    // Stores `setting` as the port's and publishes as it asks; an address that cannot be used
    // changes nothing. Empty, or what is wrong with it.
    static QString Change(CTerminalPort& port, const QString& setting);

    void Feed(QByteArrayView chunk) override;
    QString StateLine() const override;

private:
    struct Chunk {
        qint64 m_micros; // arrival, Unix time
        QByteArray m_bytes;
    };
    enum class Kind { Line, Keyframe, Screen };
    struct Outgoing {
        Kind m_kind;
        QByteArray m_payload;
        int m_id = 0; // the client's message id once handed over
    };

    // Publisher's thread.
    void Begin();
    void End();
    void TakeIncoming();
    void Enqueue(Kind kind, QByteArray payload);
    // Enqueues `payload` instead of the one of its kind not yet handed over, if any.
    void Replace(Kind kind, QByteArray payload);
    void EnqueueKeyframe();
    void ScreenChanged();
    qint64 NextScreenAt() const;
    void EnqueueScreen(bool always);
    void Overflow();
    void Pump();
    void OnConnected();
    void OnDisconnected();
    void OnAcknowledged(int id);
    void UpdateState();

    const CMqttAddress m_address;
    const qsizetype m_maxBacklog;
    QThread m_thread;
    QObject* m_context = nullptr; // lives on m_thread: parent of the client and the timers

    // Shared with the reader's thread.
    mutable QMutex m_inMutex;
    std::vector<Chunk> m_incoming;
    qsizetype m_incomingBytes = 0;
    bool m_stalled = false;

    mutable QMutex m_stateMutex;
    QString m_state;

    // Publisher's thread alone.
    CTerminalScreen m_shadow;
    quint64 m_sequence;
    CMqttClient* m_client = nullptr;
    QTimer* m_keyframeDelay = nullptr;
    QTimer* m_keyframeRenew = nullptr;
    QTimer* m_screenDelay = nullptr;
    QElapsedTimer m_clock;
    std::deque<qint64> m_screenTimes; // when the screens of the last second were enqueued
    CShareScreen m_screen;            // the last one enqueued
    std::deque<Outgoing> m_backlog;   // oldest first; the first m_handed are with the broker
    int m_handed = 0;
    qsizetype m_backlogBytes = 0;
    quint64 m_dropped = 0;
};
