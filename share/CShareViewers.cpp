#include "CShareViewers.h"

#include "CSocketBacklog.h"
#include "CTerminalScreen.h"

#include <QWebSocket>
#include <algorithm>

CShareViewers::CShareViewers(CTerminalScreen& screen, std::function<bool()> mayDrain)
    : m_screen(screen), m_mayDrain(std::move(mayDrain)) {
    m_tick.setTimerType(Qt::PreciseTimer);
    m_tick.setInterval(kTickMs);
    connect(&m_tick, &QTimer::timeout, this, &CShareViewers::Tick);
}

void CShareViewers::TakeScreen() {
    if (m_mayDrain())
        m_screen.ProcessReceived();
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
        m_tick.stop();
    emit CountChanged(Count());
}

void CShareViewers::Clear() {
    if (m_viewers.empty())
        return;
    m_tick.stop();
    for (const Viewer& viewer : std::exchange(m_viewers, {})) {
        viewer.m_socket->disconnect(this);
        viewer.m_socket->abort();
        viewer.m_socket->deleteLater();
    }
    emit CountChanged(0);
}

void CShareViewers::Tick() {
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
