#include "CLineFollower.h"

#include <QCoreApplication>
#include <QMutexLocker>
#include <algorithm>
#include <utility>

CLineFollower::CLineFollower(Options options, const CTerminalScreen& screen)
    : CLineFollower(std::move(options)) {
    m_screen = &screen;
    StartShadow(std::make_unique<CTerminalScreen>(screen));
}

CLineFollower::CLineFollower(Options options)
    : m_options(std::move(options)), m_window(std::make_unique<QObject>()) {
    if (const QCoreApplication* app = QCoreApplication::instance())
        m_window->moveToThread(app->thread());
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
    if (!m_context)
        return;
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

void CLineFollower::Joined(BetweenChunks betweenChunks) {
    m_betweenChunks = std::move(betweenChunks);
}

void CLineFollower::Feed(QByteArrayView chunk) {
    Chunk taken{Now(), chunk.toByteArray()};
    const QMutexLocker lock(&m_mutex);
    if (m_inflow == Inflow::Taking && m_inboxBytes + chunk.size() > m_options.m_maxInbox)
        m_inflow = Inflow::Dropping;
    if (m_inflow != Inflow::Taking) {
        m_dropped += quint64(chunk.size());
        return;
    }
    const bool wake = m_inbox.empty() && m_options.m_takeEvery.count() == 0;
    const qsizetype most = m_options.m_maxChunk;
    if (most > 0 && chunk.size() > most) {
        for (qsizetype at = 0; at < chunk.size(); at += most)
            m_inbox.push_back(
                {taken.m_time, taken.m_bytes.sliced(at, std::min(most, chunk.size() - at))});
    } else {
        m_inbox.push_back(std::move(taken));
    }
    m_inboxBytes += chunk.size();
    if (wake)
        QMetaObject::invokeMethod(
            m_context, [this] { Take(); }, Qt::QueuedConnection);
}

void CLineFollower::WaitFollowed() {
    QMetaObject::invokeMethod(
        m_context, [this] { Take(); }, Qt::BlockingQueuedConnection);
}

// A copy of the live screen is asked for only once the follower takes chunks again: the inbox
// then stays empty until the copy is in, so the copy comes before every chunk in the inbox.
void CLineFollower::Take() {
    std::vector<Chunk> chunks;
    quint64 dropped = 0;
    std::unique_ptr<CTerminalScreen> seed;
    bool reseed = false;
    {
        const QMutexLocker lock(&m_mutex);
        chunks.swap(m_inbox);
        m_inboxBytes = 0;
        dropped = std::exchange(m_dropped, 0);
        seed.swap(m_seed);
        if (m_inflow == Inflow::Dropping) {
            // Without the line's port there is no copy to take: the screen follows on as it is.
            reseed = m_shadow && m_betweenChunks;
            m_inflow = reseed ? Inflow::Reseeding : Inflow::Taking;
        }
    }
    if (seed) {
        StartShadow(std::move(seed));
        m_shadowStale = false;
    }
    if (reseed) {
        m_shadowStale = true;
        QMetaObject::invokeMethod(
            m_window.get(), [this] { Reseed(); }, Qt::QueuedConnection);
    }
    if (dropped > 0)
        Dropped(dropped);
    // Chunk by chunk, so a follower can see the screen after each.
    for (const Chunk& chunk : chunks) {
        Follow(chunk);
        if (!m_shadow)
            continue;
        m_shadow->Interpret(std::string_view(chunk.m_bytes.constData(),
                                             static_cast<std::size_t>(chunk.m_bytes.size())));
        Interpreted();
    }
    Followed();
}

// The copy's bytes still to interpret are interpreted at once, so the shadow is the screen the
// line has made so far, as a journal file's first record writes it.
void CLineFollower::StartShadow(std::unique_ptr<CTerminalScreen> copy) {
    m_shadow = std::move(copy);
    m_shadow->ProcessReceived();
}

void CLineFollower::Reseed() {
    m_betweenChunks([this] {
        auto seed = std::make_unique<CTerminalScreen>(*m_screen);
        const QMutexLocker lock(&m_mutex);
        m_seed = std::move(seed);
        m_inflow = Inflow::Taking;
    });
    if (m_options.m_takeEvery.count() == 0)
        QMetaObject::invokeMethod(
            m_context, [this] { Take(); }, Qt::QueuedConnection);
}
