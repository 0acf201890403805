#include "CTrafficTap.h"

#include <QMutexLocker>
#include <utility>

void CTrafficTap::Feed(QByteArrayView chunk) {
    const QMutexLocker lock(&m_mutex);
    m_total += chunk.size();
    if (m_capture) {
        if (m_capture->write(chunk.data(), chunk.size()) == chunk.size())
            m_recorded += chunk.size();
        else
            EndRecording();
    }
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

bool CTrafficTap::StartRecording(const QString& path, QString& error) {
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        error = file->errorString();
        return false;
    }
    const QMutexLocker lock(&m_mutex);
    EndRecording();
    m_capture = std::move(file);
    m_recorded = 0;
    m_recordError.clear();
    return true;
}

bool CTrafficTap::StopRecording(QString& error) {
    const QMutexLocker lock(&m_mutex);
    if (m_capture)
        EndRecording();
    error = m_recordError;
    return error.isEmpty();
}

void CTrafficTap::EndRecording() {
    if (!m_capture)
        return;
    // A failed write or flush is what the operator has to hear about at Stop.
    if (m_capture->error() != QFileDevice::NoError || !m_capture->flush())
        m_recordError = m_capture->errorString();
    m_capture->close();
    m_capture.reset();
}

bool CTrafficTap::IsRecording() const {
    const QMutexLocker lock(&m_mutex);
    return m_capture != nullptr;
}

quint64 CTrafficTap::Recorded() const {
    const QMutexLocker lock(&m_mutex);
    return m_recorded;
}
