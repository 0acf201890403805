#pragma once

#include "CMqttAddress.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>
#include <limits>
#include <memory>

struct mosquitto;
struct mosquitto_message;
struct mqtt5__property;
class QSocketNotifier;

// A session with an MQTT broker through libmosquitto, run by the event loop of the thread the
// client lives on: the library's socket is watched by socket notifiers, so there is no thread
// of the library's own and every signal comes on this thread. A connection that is refused,
// lost or not answered within kConnectMs is tried again about once a second until Stop, each
// time as a new clean session: what was in flight when a connection went away is the caller's
// to send again (see Acknowledged), and subscriptions are made again at every connect. It speaks
// MQTT 5, whose broker states the largest packet it takes, and 3.1.1 to a broker that refuses 5.
// Of several nodes, it connects to the first that answers; a connection lost or an attempt that
// fails moves on to the next in turn, at the same pace, and a node that does not answer has its
// share of kConnectMs.
class CMqttClient : public QObject {
    Q_OBJECT
public:
    static constexpr int kRetryMs = 1000;
    static constexpr int kConnectMs = 5000;
    static constexpr int kKeepAliveS = 10;

    explicit CMqttClient(const CMqttAddress& address, QObject* parent = nullptr);
    ~CMqttClient() override;

    // Before Start: what the broker publishes, retained, when the session ends unannounced.
    void SetWill(const QByteArray& topic, const QByteArray& payload);
    // Before Start: topics subscribed at QoS 1 at every connect, in one request.
    void SetSubscriptions(const QList<QByteArray>& topics);
    // Before Start: messages with a longer payload are reported by Oversized instead of
    // Received, without a copy of them.
    void SetMaxPayload(qsizetype bytes) { m_maxPayload = bytes; }
    // Before Start: the largest packet the broker takes, for one that does not say so (0: any);
    // of this and what a broker says at connect, the smaller holds.
    void SetMaxPacket(qsizetype bytes) { m_configuredMaxPacket = bytes; }
    void Start();
    // Publishes `farewell` (retained, on the will's topic) when connected, then disconnects.
    void Stop(const QByteArray& farewell = {});

    bool IsConnected() const { return m_connected; }
    // QoS 1, in order: the message id, which Acknowledged reports once the broker has the
    // message; 0 without a connection (then nothing is kept).
    int Publish(const QByteArray& topic, QByteArrayView payload, bool retain);
    QString LastError() const { return m_lastError; }
    // The node connected to, or tried next: HOST:PORT.
    QString Node() const { return m_address.NodeShown(m_node); }
    // The largest packet the broker takes, as far as known; 0: no limit known.
    qsizetype MaxPacket() const;
    // Whether Publish can hand `payload` on `topic` to the broker: a broker closes the
    // connection of a client that sends it more.
    bool Fits(const QByteArray& topic, qsizetype payload) const;

signals:
    void Connected();
    void Disconnected(const QString& reason);
    void Received(const QByteArray& topic, const QByteArray& payload);
    void Oversized(const QByteArray& topic, qsizetype size);
    void Acknowledged(int id);

private:
    static void OnConnect(mosquitto* mosq, void* self, int code, int flags,
                          const mqtt5__property* properties);
    static void OnMessage(mosquitto* mosq, void* self, const mosquitto_message* message);
    static void OnPublish(mosquitto* mosq, void* self, int mid);

    void Connect();
    void EndSession();
    void Drop(const QString& reason);
    // After every call into the library: a failure drops the connection; pending output
    // waits for the socket to take it.
    void Check(int code);
    void OnReadable();
    void OnWritable();
    void OnTick();
    qint64 AttemptMs() const;

    CMqttAddress m_address;
    mosquitto* m_mosq = nullptr;
    std::unique_ptr<QSocketNotifier> m_read;
    std::unique_ptr<QSocketNotifier> m_write;
    QTimer m_tick; // keepalive, connect deadline and reconnecting
    QElapsedTimer m_since;
    QByteArray m_willTopic;
    QByteArray m_willPayload;
    QList<QByteArray> m_subscriptions;
    qsizetype m_maxPayload = std::numeric_limits<qsizetype>::max();
    bool m_largeRead = false; // a large message came in the read under way
    bool m_running = false;
    bool m_connected = false;
    qsizetype m_node = 0;                // of the address's nodes, the one in use
    int m_protocol;                      // the version spoken from the next attempt on
    bool m_sameNode = false;             // the next attempt goes to the same node again
    qsizetype m_configuredMaxPacket = 0; // 0: none
    qsizetype m_brokerMaxPacket = 0;     // as the broker said at connect; 0: it did not
    QString m_lastError;
    QString m_refusal; // why the broker refused this attempt
};
