#include "CShareViewers.h"

#include "CScreenChanges.h"
#include "CSocketBacklog.h"
#include "CTerminalScreen.h"

#include <QWebSocket>
#include <algorithm>

CShareViewers::CShareViewers(CScreenChanges& changes)
    : m_changes(changes), m_screen(changes.Screen()), m_publish(kTickMs, [this] { Publish(); }) {
    m_tick.setInterval(kTickMs);
    connect(&m_tick, &QTimer::timeout, this, &CShareViewers::Tick);
}

CShareViewers::~CShareViewers() {
    StopWatching();
}

// Only a screen with a change announced is looked at.
void CShareViewers::TakeScreen() {
    if (!m_changes.Take(m_reader).Any())
        return;
    CShareScreen now = CShareScreen::Of(m_screen);
    if (now == m_last)
        return;
    m_last = std::move(now);
    m_lastWhole.clear();
}

const QString& CShareViewers::WholeScreen() {
    if (m_lastWhole.isEmpty())
        m_lastWhole = m_last.UpdateFrom(nullptr);
    return m_lastWhole;
}

void CShareViewers::Add(QWebSocket* socket, QTcpSocket* connection) {
    socket->setParent(this);
    socket->setMaxAllowedIncomingFrameSize(kMaxIncoming);
    socket->setMaxAllowedIncomingMessageSize(kMaxIncoming);
    // Queued: a send may end a connection while the viewers are being walked.
    connect(
        socket, &QWebSocket::disconnected, this, [this, socket] { Remove(socket); },
        Qt::QueuedConnection);
    if (m_viewers.empty()) {
        // Announcements go out on the next turn of the event loop, never in the middle of
        // another reader's catching up.
        m_reader = m_changes.Subscribe([this] {
            QMetaObject::invokeMethod(
                this, [this] { m_publish.Request(); }, Qt::QueuedConnection);
        });
        m_changes.CatchUp();
        TakeScreen();
        m_sinceSent.start();
        m_tick.start();
    }
    m_viewers.push_back({socket, connection, true});
    socket->sendTextMessage(WholeScreen());
    emit CountChanged(Count());
}

qint64 CShareViewers::UnsentBytes() const {
    qint64 bytes = 0;
    for (const Viewer& viewer : m_viewers)
        bytes += CSocketBacklog::Of(viewer.m_connection);
    return bytes;
}

void CShareViewers::Remove(QWebSocket* socket) {
    const auto it = std::find_if(m_viewers.begin(), m_viewers.end(),
                                 [socket](const Viewer& v) { return v.m_socket == socket; });
    if (it == m_viewers.end())
        return;
    m_viewers.erase(it);
    socket->deleteLater();
    if (m_viewers.empty())
        StopWatching();
    emit CountChanged(Count());
}

void CShareViewers::Clear() {
    if (m_viewers.empty())
        return;
    StopWatching();
    for (const Viewer& viewer : std::exchange(m_viewers, {})) {
        viewer.m_socket->disconnect(this);
        viewer.m_socket->abort();
        viewer.m_socket->deleteLater();
    }
    emit CountChanged(0);
}

void CShareViewers::StopWatching() {
    m_tick.stop();
    m_publish.Cancel();
    if (m_reader >= 0)
        m_changes.Unsubscribe(std::exchange(m_reader, -1));
}

// What the screen's announcements leave to time: the heartbeat, and the viewers that wait to
// catch up.
void CShareViewers::Tick() {
    const bool lagging = std::any_of(m_viewers.begin(), m_viewers.end(),
                                     [](const Viewer& viewer) { return !viewer.m_current; });
    if (lagging || m_sinceSent.elapsed() >= kHeartbeatMs)
        m_publish.Request();
}

void CShareViewers::Publish() {
    const CShareScreen before = m_last;
    TakeScreen();
    QString update;
    if (!(m_last == before))
        update = m_last.UpdateFrom(&before);
    else if (m_sinceSent.elapsed() >= kHeartbeatMs)
        update = QStringLiteral("{}");
    if (!update.isEmpty())
        m_sinceSent.restart();
    for (Viewer& viewer : m_viewers)
        Send(viewer, update);
}

void CShareViewers::Send(Viewer& viewer, const QString& update) {
    const qint64 unsent = CSocketBacklog::Of(viewer.m_connection);
    if (!viewer.m_current) {
        if (unsent > kDropBytes) {
            viewer.m_socket->abort();
        } else if (unsent < kResumeBytes) {
            viewer.m_socket->sendTextMessage(WholeScreen());
            viewer.m_current = true;
        }
        return;
    }
    if (update.isEmpty())
        return;
    if (unsent > kSkipBytes)
        viewer.m_current = false;
    else
        viewer.m_socket->sendTextMessage(update);
}
