#include "CLineFollower.h"

#include "CScreenCommands.h"

#include <QMutexLocker>
#include <utility>

CLineFollower::CLineFollower(Options options, const CTerminalScreen& screen)
    : m_options(std::move(options)) {
    m_shadow.ReceiveBytes(CScreenCommands::Of(screen));
    m_shadow.ProcessReceived();
}

CLineFollower::~CLineFollower() {
    Q_ASSERT(!m_thread.isRunning()); // the subclass finished, while its overrides existed
}

void CLineFollower::Start() {
    m_thread.setObjectName(m_options.m_name);
    m_thread.start();
    m_context = new QObject;
    m_context->moveToThread(&m_thread);
    QMetaObject::invokeMethod(
        m_context,
        [this] {
            if (m_options.m_takeEvery.count() > 0) {
                m_takeTimer = new QTimer(m_context);
                QObject::connect(m_takeTimer, &QTimer::timeout, m_context, [this] { Take(); });
                m_takeTimer->start(m_options.m_takeEvery);
            }
            Begin();
        },
        Qt::BlockingQueuedConnection);
}

void CLineFollower::Finish() {
    QMetaObject::invokeMethod(
        m_context,
        [this] {
            Take();
            End();
            delete m_context; // the timers and clients with it, on their own thread
            m_context = nullptr;
        },
        Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}

CLineFollower::Time CLineFollower::Now() const {
    if (m_options.m_clock)
        return m_options.m_clock();
    return std::chrono::time_point_cast<std::chrono::microseconds>(
        std::chrono::system_clock::now());
}

void CLineFollower::Feed(QByteArrayView chunk) {
    Chunk taken{Now(), chunk.toByteArray()};
    const QMutexLocker lock(&m_mutex);
    if (m_inboxBytes + chunk.size() > m_options.m_maxInbox) {
        m_dropped += quint64(chunk.size());
        return;
    }
    const bool wake = m_inbox.empty() && m_options.m_takeEvery.count() == 0;
    m_inbox.push_back(std::move(taken));
    m_inboxBytes += chunk.size();
    if (wake)
        QMetaObject::invokeMethod(
            m_context, [this] { Take(); }, Qt::QueuedConnection);
}

void CLineFollower::WaitFollowed() {
    QMetaObject::invokeMethod(
        m_context, [this] { Take(); }, Qt::BlockingQueuedConnection);
}

void CLineFollower::Take() {
    std::vector<Chunk> chunks;
    quint64 dropped = 0;
    {
        const QMutexLocker lock(&m_mutex);
        chunks.swap(m_inbox);
        m_inboxBytes = 0;
        dropped = std::exchange(m_dropped, 0);
    }
    if (dropped > 0)
        Dropped(dropped);
    for (const Chunk& chunk : chunks) {
        Follow(chunk);
        m_shadow.ReceiveBytes(std::string_view(chunk.m_bytes.constData(),
                                               static_cast<std::size_t>(chunk.m_bytes.size())));
    }
    m_shadow.ProcessReceived();
    Followed();
}
