#include "CTrafficTap.h"

#include <QMutexLocker>
#include <utility>

void CTrafficTap::Feed(QByteArrayView chunk) {
    const QMutexLocker lock(&m_mutex);
    m_total += chunk.size();
    if (m_recorder)
        m_recorder->Feed(chunk);
    if (!m_watching)
        return;
    m_pending.append(chunk);
    const qsizetype excess = m_pending.size() - kMaxPending;
    if (excess > 0) {
        m_pending.remove(0, excess);
        m_skipped += excess;
    }
}

void CTrafficTap::SetWatching(bool watching) {
    const QMutexLocker lock(&m_mutex);
    m_watching = watching;
    if (!watching) {
        m_pending.clear();
        m_skipped = 0;
    }
}

CTrafficTap::Batch CTrafficTap::Take() {
    const QMutexLocker lock(&m_mutex);
    Batch batch{std::exchange(m_pending, {}), std::exchange(m_skipped, 0)};
    return batch;
}

quint64 CTrafficTap::Total() const {
    const QMutexLocker lock(&m_mutex);
    return m_total;
}

QString CTrafficTap::StateLine() const {
    const QMutexLocker lock(&m_mutex);
    return m_recorder ? m_recorder->StateLine() : QString();
}

bool CTrafficTap::StartRecording(const QString& path, QString& error) {
    std::unique_ptr<CCaptureRecorder> recorder = CCaptureRecorder::Open(path, error);
    if (!recorder)
        return false;
    {
        const QMutexLocker lock(&m_mutex);
        m_recorder.swap(recorder);
    } // the one before ends outside the lock, without holding up the line
    return true;
}

bool CTrafficTap::StopRecording(QString& error) {
    std::unique_ptr<CCaptureRecorder> recorder;
    {
        const QMutexLocker lock(&m_mutex);
        recorder = std::move(m_recorder);
    }
    error = recorder ? recorder->Close() : QString();
    return error.isEmpty();
}

bool CTrafficTap::IsRecording() const {
    const QMutexLocker lock(&m_mutex);
    return m_recorder && !m_recorder->Failed();
}

quint64 CTrafficTap::Recorded() const {
    const QMutexLocker lock(&m_mutex);
    return m_recorder ? m_recorder->Written() : 0;
}
