#include "CMqttPublisher.h"

#include "CMqttClient.h"
#include "CMqttRecord.h"
#include "CScreenCommands.h"
#include "CTerminalPort.h"

#include <QDateTime>
#include <QMutexLocker>
#include <QTimer>
#include <algorithm>
#include <chrono>

namespace {

const QByteArray kOnline = QByteArrayLiteral("online");
const QByteArray kOffline = QByteArrayLiteral("offline");
// By CMqttPublisher::Kind.
constexpr const char* kTopics[] = {"line", "keyframe", "screen"};

CTtyrecRecord::Time Now() {
    return CTtyrecRecord::Time(
        std::chrono::microseconds(QDateTime::currentMSecsSinceEpoch() * 1000));
}

} // namespace

// Numbers start at the time in microseconds, so a publisher started again
// mostly continues above the numbers it used before; mirrors take the keyframe
// after its "online" in any case, as its clock may have been put back.
CMqttPublisher::CMqttPublisher(const CMqttAddress& address, const CTerminalScreen& screen,
                               qsizetype maxBacklog)
    : m_address(address), m_maxBacklog(maxBacklog),
      m_sequence(quint64(QDateTime::currentMSecsSinceEpoch()) * 1000) {
    m_shadow.ReceiveBytes(CScreenCommands::Of(screen));
    m_shadow.ProcessReceived();
    m_thread.setObjectName(QStringLiteral("publisher"));
    m_thread.start();
    m_context = new QObject;
    m_context->moveToThread(&m_thread);
    QMetaObject::invokeMethod(
        m_context, [this] { Begin(); }, Qt::BlockingQueuedConnection);
}

CMqttPublisher::~CMqttPublisher() {
    QMetaObject::invokeMethod(
        m_context, [this] { End(); }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}

QString CMqttPublisher::AttachTo(CTerminalPort& port) {
    const QString setting = port.Option(QLatin1String(kOption)).trimmed();
    // The old one first: its "offline" must not follow the new one's "online" on
    // the same topic.
    port.TakeListeners([](const CLineListener& listener) {
        return dynamic_cast<const CMqttPublisher*>(&listener) != nullptr;
    });
    if (setting.isEmpty() || setting == QLatin1String("off"))
        return {};
    QString problem;
    const CMqttAddress address = CMqttAddress::Parse(setting, problem);
    if (problem.isEmpty())
        port.AddListener([&] { return std::make_unique<CMqttPublisher>(address, port); });
    return problem;
}

QString CMqttPublisher::Change(CTerminalPort& port, const QString& setting) {
    const QString wanted = setting.trimmed().isEmpty() ? QStringLiteral("off") : setting.trimmed();
    QString problem;
    if (wanted != QLatin1String("off"))
        CMqttAddress::Parse(wanted, problem);
    if (!problem.isEmpty())
        return problem;
    if (wanted == port.Option(QLatin1String(kOption), QStringLiteral("off")).trimmed())
        return {};
    port.SetOption(QLatin1String(kOption), wanted);
    return AttachTo(port);
}

void CMqttPublisher::Begin() {
    m_client = new CMqttClient(m_address, m_context);
    m_client->SetWill(m_address.Topic("state"), kOffline);
    QObject::connect(m_client, &CMqttClient::Connected, m_context, [this] { OnConnected(); });
    QObject::connect(m_client, &CMqttClient::Disconnected, m_context, [this] { OnDisconnected(); });
    QObject::connect(m_client, &CMqttClient::Acknowledged, m_context,
                     [this](int id) { OnAcknowledged(id); });
    m_keyframeDelay = new QTimer(m_context);
    m_keyframeDelay->setSingleShot(true);
    m_keyframeDelay->setInterval(kKeyframeDelayMs);
    QObject::connect(m_keyframeDelay, &QTimer::timeout, m_context, [this] { EnqueueKeyframe(); });
    m_keyframeRenew = new QTimer(m_context);
    m_keyframeRenew->setInterval(kKeyframeRenewMs);
    QObject::connect(m_keyframeRenew, &QTimer::timeout, m_context, [this] { EnqueueKeyframe(); });
    m_keyframeRenew->start();
    m_clock.start();
    m_screenDelay = new QTimer(m_context);
    m_screenDelay->setSingleShot(true);
    m_screenDelay->setTimerType(Qt::PreciseTimer); // a coarse one may fire early
    QObject::connect(m_screenDelay, &QTimer::timeout, m_context, [this] { EnqueueScreen(false); });
    EnqueueKeyframe();
    m_client->Start();
    UpdateState();
}

void CMqttPublisher::End() {
    m_client->Stop(kOffline);
    delete m_context; // the client and the timers with it, on their own thread
    m_context = nullptr;
}

void CMqttPublisher::Feed(QByteArrayView chunk) {
    const qint64 micros = QDateTime::currentMSecsSinceEpoch() * 1000;
    const QMutexLocker lock(&m_inMutex);
    if (m_stalled)
        return;
    if (m_incomingBytes + chunk.size() > kMaxIncoming) {
        m_stalled = true;
        return;
    }
    const bool wake = m_incoming.empty();
    m_incoming.push_back({micros, chunk.toByteArray()});
    m_incomingBytes += chunk.size();
    if (wake)
        QMetaObject::invokeMethod(
            m_context, [this] { TakeIncoming(); }, Qt::QueuedConnection);
}

void CMqttPublisher::TakeIncoming() {
    std::vector<Chunk> chunks;
    {
        const QMutexLocker lock(&m_inMutex);
        chunks.swap(m_incoming);
        m_incomingBytes = 0;
        if (m_stalled) {
            UpdateState();
            return;
        }
    }
    for (Chunk& chunk : chunks) {
        m_shadow.ReceiveBytes(std::string_view(chunk.m_bytes.constData(), chunk.m_bytes.size()));
        const CMqttRecord record{++m_sequence,
                                 CTtyrecRecord::Time(std::chrono::microseconds(chunk.m_micros)),
                                 chunk.m_bytes};
        Enqueue(Kind::Line, record.Encode());
    }
    m_shadow.ProcessReceived();
    if (!m_keyframeDelay->isActive())
        m_keyframeDelay->start();
    ScreenChanged();
    Pump();
}

void CMqttPublisher::Enqueue(Kind kind, QByteArray payload) {
    if (kind == Kind::Line && m_backlogBytes + payload.size() > m_maxBacklog) {
        Overflow();
        return;
    }
    m_backlogBytes += payload.size();
    m_backlog.push_back({kind, std::move(payload)});
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
                               QByteArray::fromStdString(CScreenCommands::Of(m_shadow))};
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
    CShareScreen screen = CShareScreen::Of(m_shadow);
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
    ++m_dropped; // the record that did not fit
    EnqueueKeyframe();
}

void CMqttPublisher::Pump() {
    while (m_client->IsConnected() && m_handed < kWindow &&
           m_handed < static_cast<int>(m_backlog.size())) {
        Outgoing& next = m_backlog[static_cast<std::size_t>(m_handed)];
        next.m_id = m_client->Publish(m_address.Topic(kTopics[static_cast<int>(next.m_kind)]),
                                      next.m_payload, next.m_kind != Kind::Line);
        if (next.m_id == 0)
            break;
        ++m_handed;
    }
    UpdateState();
}

void CMqttPublisher::OnConnected() {
    m_client->Publish(m_address.Topic("state"), kOnline, true);
    // A broker started again has lost what was retained.
    EnqueueKeyframe();
    EnqueueScreen(true);
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
    bool stalled = false;
    {
        const QMutexLocker lock(&m_inMutex);
        stalled = m_stalled;
    }
    if (stalled)
        state += QStringLiteral("stopped: the publisher fell behind the line");
    else if (m_client->IsConnected())
        state += QStringLiteral("connected");
    else if (m_client->LastError().isEmpty())
        state += QStringLiteral("connecting");
    else
        state += QStringLiteral("reconnecting (%1)").arg(m_client->LastError());
    state += QStringLiteral(", %1 waiting").arg(m_backlog.size());
    if (m_dropped > 0)
        state += QStringLiteral(", %1 records dropped for keyframes").arg(m_dropped);
    const QMutexLocker lock(&m_stateMutex);
    m_state = state;
}

QString CMqttPublisher::StateLine() const {
    const QMutexLocker lock(&m_stateMutex);
    return m_state;
}
