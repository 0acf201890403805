#include "CMqttClient.h"

#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <utility>
#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

constexpr int kQos = 1;
// Messages from this length on give their memory back to the system once they are gone.
constexpr int kLargePayload = 1024 * 1024;

void InitLibrary() {
    static const int done = mosquitto_lib_init();
    Q_UNUSED(done);
}

QString Words(int code) {
    if (code == MOSQ_ERR_ERRNO)
        return QString::fromLocal8Bit(std::strerror(errno));
    return QString::fromUtf8(mosquitto_strerror(code));
}

// The bytes of a number in a packet's remaining length.
qsizetype VarintSize(qsizetype value) {
    qsizetype size = 1;
    for (; value >= 128; value /= 128)
        ++size;
    return size;
}

void ReturnFreedMemory() {
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}

} // namespace

CMqttClient::CMqttClient(const CMqttAddress& address, QObject* parent)
    : QObject(parent), m_address(address), m_tick(this), m_protocol(MQTT_PROTOCOL_V5) {
    InitLibrary();
    m_tick.setInterval(kRetryMs);
    connect(&m_tick, &QTimer::timeout, this, &CMqttClient::OnTick);
}

CMqttClient::~CMqttClient() {
    Stop();
}

void CMqttClient::SetWill(const QByteArray& topic, const QByteArray& payload) {
    m_willTopic = topic;
    m_willPayload = payload;
}

void CMqttClient::SetSubscriptions(const QList<QByteArray>& topics) {
    m_subscriptions = topics;
}

void CMqttClient::Start() {
    m_running = true;
    m_tick.start();
    Connect();
}

void CMqttClient::Stop(const QByteArray& farewell) {
    m_running = false;
    m_tick.stop();
    if (m_connected && !farewell.isEmpty() && !m_willTopic.isEmpty()) {
        // Said before the disconnect, in the same stream, so the broker has it first; a broker
        // that does not answer within a moment is not waited for.
        mosquitto_publish(m_mosq, nullptr, m_willTopic.constData(), int(farewell.size()),
                          farewell.constData(), kQos, true);
        mosquitto_disconnect(m_mosq);
        for (int i = 0; i < 10 && mosquitto_loop(m_mosq, 50, 1) == MOSQ_ERR_SUCCESS; ++i) {
        }
    }
    EndSession();
}

int CMqttClient::Publish(const QByteArray& topic, QByteArrayView payload, bool retain) {
    if (!m_connected)
        return 0;
    int id = 0;
    const int code = mosquitto_publish(m_mosq, &id, topic.constData(), int(payload.size()),
                                       payload.data(), kQos, retain);
    // A failure is not acted on here, where a library callback may be running: the socket's
    // next event reports the lost connection.
    if (code != MOSQ_ERR_SUCCESS)
        return 0;
    m_write->setEnabled(mosquitto_want_write(m_mosq));
    return id;
}

qsizetype CMqttClient::MaxPacket() const {
    if (m_brokerMaxPacket == 0 || m_configuredMaxPacket == 0)
        return std::max(m_brokerMaxPacket, m_configuredMaxPacket);
    return std::min(m_brokerMaxPacket, m_configuredMaxPacket);
}

// A QoS 1 publication: its type, its remaining length, the topic with its length, the message
// id, in MQTT 5 the length of no properties, and the payload.
bool CMqttClient::Fits(const QByteArray& topic, qsizetype payload) const {
    const qsizetype limit = MaxPacket();
    if (limit == 0)
        return true;
    const qsizetype remaining =
        2 + topic.size() + 2 + (m_protocol == MQTT_PROTOCOL_V5 ? 1 : 0) + payload;
    return 1 + VarintSize(remaining) + remaining <= limit;
}

// Every attempt is a new session of the library, so nothing of a lost connection lingers in it.
void CMqttClient::Connect() {
    EndSession();
    m_refusal.clear();
    m_since.start();
    m_mosq = mosquitto_new(nullptr, true, this);
    if (!m_mosq) {
        m_lastError = QStringLiteral("out of memory");
        return;
    }
    mosquitto_int_option(m_mosq, MOSQ_OPT_PROTOCOL_VERSION, m_protocol);
    mosquitto_int_option(m_mosq, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_max_inflight_messages_set(m_mosq, 0); // the caller bounds what it hands over
    mosquitto_connect_v5_callback_set(m_mosq, &CMqttClient::OnConnect);
    mosquitto_message_callback_set(m_mosq, &CMqttClient::OnMessage);
    mosquitto_publish_callback_set(m_mosq, &CMqttClient::OnPublish);
    const QByteArray user = m_address.m_user.toUtf8();
    const QByteArray password = m_address.m_password.toUtf8();
    if (!user.isEmpty())
        mosquitto_username_pw_set(m_mosq, user.constData(),
                                  password.isEmpty() ? nullptr : password.constData());
    if (m_address.m_tls)
        mosquitto_int_option(m_mosq, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
    if (!m_willTopic.isEmpty())
        mosquitto_will_set(m_mosq, m_willTopic.constData(), int(m_willPayload.size()),
                           m_willPayload.constData(), kQos, true);
    const CMqttAddress::Node& node = m_address.m_nodes.at(m_node);
    const QByteArray host = node.m_host.toUtf8();
    const int code = mosquitto_connect_async(m_mosq, host.constData(), node.m_port, kKeepAliveS);
    if (code != MOSQ_ERR_SUCCESS) {
        Drop(Words(code));
        return;
    }
    const int socket = mosquitto_socket(m_mosq);
    m_read = std::make_unique<QSocketNotifier>(socket, QSocketNotifier::Read);
    m_write = std::make_unique<QSocketNotifier>(socket, QSocketNotifier::Write);
    connect(m_read.get(), &QSocketNotifier::activated, this, &CMqttClient::OnReadable);
    connect(m_write.get(), &QSocketNotifier::activated, this, &CMqttClient::OnWritable);
}

void CMqttClient::EndSession() {
    // The notifiers go before the library closes their socket.
    m_read.reset();
    m_write.reset();
    if (m_mosq)
        mosquitto_destroy(m_mosq);
    m_mosq = nullptr;
    m_connected = false;
}

void CMqttClient::Drop(const QString& reason) {
    const bool wasConnected = m_connected;
    EndSession();
    // Of several nodes, which one it was.
    const QString node = m_address.m_nodes.size() > 1 ? Node() + QStringLiteral(": ") : QString();
    m_lastError = node + (m_refusal.isEmpty() ? reason : m_refusal);
    m_since.start();
    if (!std::exchange(m_sameNode, false))
        m_node = (m_node + 1) % m_address.m_nodes.size();
    if (wasConnected)
        emit Disconnected(node + reason);
}

void CMqttClient::Check(int code) {
    if (code != MOSQ_ERR_SUCCESS) {
        Drop(code == MOSQ_ERR_CONN_LOST ? QStringLiteral("the broker closed the connection")
                                        : Words(code));
        return;
    }
    if (m_write)
        m_write->setEnabled(mosquitto_want_write(m_mosq));
}

void CMqttClient::OnReadable() {
    Check(mosquitto_loop_read(m_mosq, 1));
    // The library frees a message only after it was handed on. Freed, the buffers of a large
    // one and the copies made of it would otherwise stay with the threads' heaps for good.
    if (std::exchange(m_largeRead, false))
        ReturnFreedMemory();
}

void CMqttClient::OnWritable() {
    Check(mosquitto_loop_write(m_mosq, 1));
}

void CMqttClient::OnTick() {
    if (!m_running)
        return;
    if (!m_mosq) {
        Connect();
        return;
    }
    if (!m_connected && m_since.hasExpired(AttemptMs())) {
        Drop(QStringLiteral("the broker did not answer"));
        if (m_address.m_nodes.size() > 1)
            Connect(); // a node not tried yet
        return;
    }
    Check(mosquitto_loop_misc(m_mosq));
}

// Of several nodes, a silent one has its share of the time an open waits, so the next is tried
// within it.
qint64 CMqttClient::AttemptMs() const {
    return std::max<qint64>(kRetryMs, kConnectMs / m_address.m_nodes.size());
}

void CMqttClient::OnConnect(mosquitto* mosq, void* self, int code, int,
                            const mqtt5__property* properties) {
    auto* client = static_cast<CMqttClient*>(self);
    if (code != 0) {
        // Refused (bad user or password, not authorised): the next attempt comes from the tick,
        // in 3.1.1 when it was the version.
        const bool v5 = client->m_protocol == MQTT_PROTOCOL_V5;
        if (v5 && (code == MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION ||
                   code == CONNACK_REFUSED_PROTOCOL_VERSION)) {
            client->m_protocol = MQTT_PROTOCOL_V311;
            client->m_sameNode = true;
        }
        client->m_refusal =
            v5 ? QStringLiteral("Connection Refused: %1.").arg(mosquitto_reason_string(code))
               : QString::fromUtf8(mosquitto_connack_string(code));
        return;
    }
    // Kept until the next connect says otherwise, so what is made meanwhile fits it.
    uint32_t maxPacket = 0;
    mosquitto_property_read_int32(properties, MQTT_PROP_MAXIMUM_PACKET_SIZE, &maxPacket, false);
    client->m_brokerMaxPacket = qsizetype(maxPacket);
    client->m_connected = true;
    client->m_lastError.clear();
    if (!client->m_subscriptions.isEmpty()) {
        QList<char*> topics;
        for (QByteArray& topic : client->m_subscriptions)
            topics.append(topic.data());
        mosquitto_subscribe_multiple(mosq, nullptr, int(topics.size()), topics.data(), kQos, 0,
                                     nullptr);
    }
    emit client->Connected();
}

void CMqttClient::OnMessage(mosquitto*, void* self, const mosquitto_message* message) {
    auto* client = static_cast<CMqttClient*>(self);
    const QByteArray topic(message->topic);
    client->m_largeRead |= message->payloadlen >= kLargePayload;
    if (message->payloadlen > client->m_maxPayload) {
        emit client->Oversized(topic, message->payloadlen);
        return;
    }
    emit client->Received(
        topic, QByteArray(static_cast<const char*>(message->payload), message->payloadlen));
}

void CMqttClient::OnPublish(mosquitto*, void* self, int id) {
    emit static_cast<CMqttClient*>(self)->Acknowledged(id);
}
