#include "CMqttPublisher.h"

#include "CMqttClient.h"
#include "CMqttRecord.h"
#include "CScreenCommands.h"

#include <QDateTime>
#include <QMutexLocker>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <utility>

namespace {

const QByteArray kOnline = QByteArrayLiteral("online");
const QByteArray kOffline = QByteArrayLiteral("offline");
// By CMqttPublisher::Kind.
constexpr const char* kTopics[] = {"line", "keyframe", "screen", "fields"};

} // namespace

// Numbers start at the time in microseconds, so a publisher started again
// mostly continues above the numbers it used before; mirrors take the keyframe
// after its "online" in any case, as its clock may have been put back.
CMqttPublisher::CMqttPublisher(const CMqttAddress& address, const CTerminalScreen& screen,
                               qsizetype maxBacklog, qsizetype maxPacket)
    : CLineFollower({QStringLiteral("publisher"), kMaxIncoming, kTakeEvery, {}}, screen),
      m_address(address), m_maxBacklog(maxBacklog), m_maxPacket(maxPacket),
      m_sequence(quint64(QDateTime::currentMSecsSinceEpoch()) * 1000) {
    Start();
}

CMqttPublisher::~CMqttPublisher() {
    Finish();
}

void CMqttPublisher::PublishFields(const QByteArray& json) {
    QMetaObject::invokeMethod(
        Context(),
        [this, json] {
            m_fields = json;
            Replace(Kind::Fields, json);
            Pump();
        },
        Qt::QueuedConnection);
}

void CMqttPublisher::Begin() {
    QObject* const context = Context();
    m_client = new CMqttClient(m_address, context);
    m_client->SetWill(m_address.Topic("state"), kOffline);
    m_client->SetMaxPacket(m_maxPacket);
    QObject::connect(m_client, &CMqttClient::Connected, context, [this] { OnConnected(); });
    QObject::connect(m_client, &CMqttClient::Disconnected, context, [this] { OnDisconnected(); });
    QObject::connect(m_client, &CMqttClient::Acknowledged, context,
                     [this](int id) { OnAcknowledged(id); });
    m_keyframeDelay = new QTimer(context);
    m_keyframeDelay->setSingleShot(true);
    m_keyframeDelay->setInterval(kKeyframeDelayMs);
    QObject::connect(m_keyframeDelay, &QTimer::timeout, context, [this] { EnqueueKeyframe(); });
    m_keyframeRenew = new QTimer(context);
    m_keyframeRenew->setInterval(kKeyframeRenewMs);
    QObject::connect(m_keyframeRenew, &QTimer::timeout, context, [this] { EnqueueKeyframe(); });
    m_keyframeRenew->start();
    m_clock.start();
    m_screenDelay = new QTimer(context);
    m_screenDelay->setSingleShot(true);
    m_screenDelay->setTimerType(Qt::PreciseTimer); // a coarse one may fire early
    QObject::connect(m_screenDelay, &QTimer::timeout, context, [this] { EnqueueScreen(false); });
    EnqueueKeyframe();
    m_client->Start();
    UpdateState();
}

void CMqttPublisher::End() {
    m_client->Stop(kOffline);
}

void CMqttPublisher::Dropped(quint64) {
    m_stalled = true;
    UpdateState();
}

void CMqttPublisher::Follow(const Chunk& chunk) {
    if (m_stalled)
        return;
    if (m_pending.isEmpty())
        m_pendingTime = chunk.m_time;
    m_pending += chunk.m_bytes;
    if (m_pending.size() >= RecordBytes())
        TakePending();
}

void CMqttPublisher::TakePending() {
    const qsizetype most = RecordBytes();
    for (qsizetype at = 0; at < m_pending.size(); at += most)
        m_taken.push_back(
            CMqttRecord{++m_sequence, m_pendingTime, m_pending.mid(at, most)}.Encode());
    m_pending.clear();
}

// Room for the packet's own header (at most 10 bytes), the topic and the record's header.
qsizetype CMqttPublisher::RecordBytes() const {
    const qsizetype limit = m_client->MaxPacket();
    if (limit == 0)
        return kRecordBytes;
    const qsizetype overhead = 10 + Topic(Kind::Line).size() + CMqttRecord::kSequenceSize +
                               qsizetype(CTtyrecRecord::kHeaderSize);
    return std::clamp(limit - overhead, qsizetype(1), kRecordBytes);
}

QByteArray CMqttPublisher::Topic(Kind kind) const {
    return m_address.Topic(kTopics[static_cast<int>(kind)]);
}

// Once the screen holds every chunk taken, so that a keyframe made on an overflow holds every
// record numbered so far.
void CMqttPublisher::Followed() {
    TakePending();
    if (m_taken.empty())
        return;
    for (std::size_t i = 0; i < m_taken.size(); ++i)
        if (!Enqueue(Kind::Line, std::move(m_taken[i]))) {
            m_dropped += m_taken.size() - i; // this one and the rest: the keyframe holds them
            break;
        }
    m_taken.clear();
    if (!m_keyframeDelay->isActive())
        m_keyframeDelay->start();
    ScreenChanged();
    Pump();
}

bool CMqttPublisher::Enqueue(Kind kind, QByteArray payload) {
    if (kind == Kind::Line && m_backlogBytes + payload.size() > m_maxBacklog) {
        Overflow();
        return false;
    }
    m_backlogBytes += payload.size();
    m_backlog.push_back({kind, std::move(payload)});
    return true;
}

// Behind every record enqueued so far, which a keyframe holds.
void CMqttPublisher::Replace(Kind kind, QByteArray payload) {
    const auto stale = std::find_if(m_backlog.begin() + m_handed, m_backlog.end(),
                                    [kind](const Outgoing& o) { return o.m_kind == kind; });
    if (stale != m_backlog.end()) {
        m_backlogBytes -= stale->m_payload.size();
        m_backlog.erase(stale);
    }
    Enqueue(kind, std::move(payload));
}

void CMqttPublisher::EnqueueKeyframe() {
    m_keyframeDelay->stop();
    const CMqttRecord keyframe{m_sequence, Now(),
                               QByteArray::fromStdString(CScreenCommands::Of(Shadow()))};
    Replace(Kind::Keyframe, keyframe.Encode());
    Pump();
}

// Right away when the rate allows, otherwise once it does: changes meanwhile go together.
void CMqttPublisher::ScreenChanged() {
    if (m_screenDelay->isActive())
        return;
    const qint64 wait = NextScreenAt() - m_clock.elapsed();
    if (wait > 0)
        m_screenDelay->start(static_cast<int>(wait));
    else
        EnqueueScreen(false);
}

qint64 CMqttPublisher::NextScreenAt() const {
    if (m_screenTimes.empty())
        return 0;
    const qint64 apart = m_screenTimes.back() + kScreenGapMs;
    if (static_cast<int>(m_screenTimes.size()) < kScreensPerSecond)
        return apart;
    return std::max(apart, m_screenTimes.front() + 1000);
}

void CMqttPublisher::EnqueueScreen(bool always) {
    CShareScreen screen = CShareScreen::Of(Shadow());
    if (!always && screen == m_screen)
        return;
    m_screenTimes.push_back(m_clock.elapsed());
    if (static_cast<int>(m_screenTimes.size()) > kScreensPerSecond)
        m_screenTimes.pop_front();
    Replace(Kind::Screen, screen.UpdateFrom(nullptr).toUtf8());
    m_screen = std::move(screen);
    Pump();
}

// The screen waiting stays: it does not depend on the records.
void CMqttPublisher::Overflow() {
    const auto isLine = [](const Outgoing& outgoing) { return outgoing.m_kind == Kind::Line; };
    const auto unsent = m_backlog.begin() + m_handed;
    for (auto it = unsent; it != m_backlog.end(); ++it)
        if (isLine(*it)) {
            m_backlogBytes -= it->m_payload.size();
            ++m_dropped;
        }
    m_backlog.erase(std::remove_if(unsent, m_backlog.end(), isLine), m_backlog.end());
    EnqueueKeyframe();
}

void CMqttPublisher::Pump() {
    while (m_client->IsConnected() && m_handed < kWindow &&
           m_handed < static_cast<int>(m_backlog.size())) {
        Outgoing& next = m_backlog[static_cast<std::size_t>(m_handed)];
        if (!m_client->Fits(Topic(next.m_kind), next.m_payload.size())) {
            DropTooLarge();
            continue;
        }
        next.m_id =
            m_client->Publish(Topic(next.m_kind), next.m_payload, next.m_kind != Kind::Line);
        if (next.m_id == 0)
            break;
        m_tooLarge[static_cast<std::size_t>(next.m_kind)] = {};
        ++m_handed;
    }
    UpdateState();
}

// A record cut before the limit was known: the records not sent give way to a keyframe, as on
// an overflow. A keyframe that does not fit leaves mirrors to follow the records they have.
void CMqttPublisher::DropTooLarge() {
    const auto next = m_backlog.begin() + m_handed;
    TooLarge& said = m_tooLarge[static_cast<std::size_t>(next->m_kind)];
    if (said.m_size == 0)
        said = {next->m_payload.size(), m_client->MaxPacket()};
    if (next->m_kind == Kind::Line) {
        Overflow();
        return;
    }
    m_backlogBytes -= next->m_payload.size();
    m_backlog.erase(next);
}

void CMqttPublisher::OnConnected() {
    m_client->Publish(m_address.Topic("state"), kOnline, true);
    // A broker started again has lost what was retained.
    EnqueueKeyframe();
    EnqueueScreen(true);
    if (!m_fields.isEmpty())
        Replace(Kind::Fields, m_fields);
    Pump();
}

void CMqttPublisher::OnDisconnected() {
    // Whatever was in flight goes again on the next connection, in the same
    // order.
    for (int i = 0; i < m_handed; ++i)
        m_backlog[static_cast<std::size_t>(i)].m_id = 0;
    m_handed = 0;
    UpdateState();
}

void CMqttPublisher::OnAcknowledged(int id) {
    for (int i = 0; i < m_handed; ++i) {
        const auto it = m_backlog.begin() + i;
        if (it->m_id == id) {
            m_backlogBytes -= it->m_payload.size();
            m_backlog.erase(it);
            --m_handed;
            break;
        }
    }
    Pump();
}

void CMqttPublisher::UpdateState() {
    QString state = QStringLiteral("Publishing to %1: ").arg(m_address.Shown());
    if (m_stalled)
        state += QStringLiteral("stopped: the publisher fell behind the line");
    else if (m_client->IsConnected() && m_address.m_nodes.size() > 1)
        state += QStringLiteral("connected to %1").arg(m_client->Node());
    else if (m_client->IsConnected())
        state += QStringLiteral("connected");
    else if (m_client->LastError().isEmpty())
        state += QStringLiteral("connecting");
    else
        state += QStringLiteral("reconnecting (%1)").arg(m_client->LastError());
    state += QStringLiteral(", %1 waiting").arg(m_backlog.size());
    if (m_dropped > 0)
        state += QStringLiteral(", %1 records dropped for keyframes").arg(m_dropped);
    for (std::size_t kind = 0; kind < m_tooLarge.size(); ++kind)
        if (const TooLarge& said = m_tooLarge[kind]; said.m_size > 0)
            state += QStringLiteral("\nPublishing to %1: a message to %2 of %3 bytes was "
                                    "dropped: the broker takes packets of at most %4 bytes")
                         .arg(m_address.Shown(), QString::fromUtf8(Topic(static_cast<Kind>(kind))))
                         .arg(said.m_size)
                         .arg(said.m_limit);
    const QMutexLocker lock(&m_stateMutex);
    m_state = state;
}

QString CMqttPublisher::StateLine() const {
    const QMutexLocker lock(&m_stateMutex);
    return m_state;
}
