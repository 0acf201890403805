#pragma once

#include "CLineListener.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QFile>
#include <QMutex>
#include <QString>
#include <memory>

// What the traffic monitor sees of the line. The reader's thread hands over each chunk it read
// under one short lock; the monitor takes what came in on its own timer, so the per-byte path
// never waits for the window. Shown bytes are bounded; recorded bytes are written as they come
// and are never dropped.
class CTrafficTap : public CLineListener {
public:
    // Bytes kept for display between two looks of the monitor; older ones are skipped.
    static constexpr qsizetype kMaxPending = 16 * 1024;

    struct Batch {
        QByteArray m_bytes;
        quint64 m_skipped = 0; // bytes that came before m_bytes and are not shown
    };

    // Reader's thread.
    void Feed(QByteArrayView chunk) override;
    // The monitor shows the tap itself.
    QString StateLine() const override { return {}; }

    // Window's thread.
    void SetWatching(bool watching);
    Batch Take();
    quint64 Total() const;
    bool StartRecording(const QString& path, QString& error);
    // Ends the recording; false (with the reason) when the capture is incomplete.
    bool StopRecording(QString& error);
    bool IsRecording() const;
    quint64 Recorded() const;

private:
    void EndRecording();

    mutable QMutex m_mutex;
    bool m_watching = false;
    QByteArray m_pending;
    quint64 m_skipped = 0;
    quint64 m_total = 0;
    std::unique_ptr<QFile> m_capture;
    quint64 m_recorded = 0;
    QString m_recordError;
};
