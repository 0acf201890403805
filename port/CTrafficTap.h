#pragma once

#include "CCaptureRecorder.h"
#include "CLineListener.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QMutex>
#include <QString>
#include <memory>

// What the traffic monitor sees of the line. The reader's thread hands over each chunk it read
// under one short lock; the monitor takes what came in on its own timer, so the per-byte path
// never waits for the window. Shown bytes are bounded; a recording is handed each chunk and
// writes it on a thread of its own, so a capture file never holds up the line or the monitor.
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
    // The monitor shows the tap itself; this says only why a recording is incomplete.
    QString StateLine() const override;

    // Window's thread.
    void SetWatching(bool watching);
    Batch Take();
    quint64 Total() const;
    bool StartRecording(const QString& path, QString& error);
    // Ends the recording; false (with the reason) when the capture is incomplete.
    bool StopRecording(QString& error);
    // False once a write failed, until the recording is stopped.
    bool IsRecording() const;
    quint64 Recorded() const;

private:
    mutable QMutex m_mutex;
    bool m_watching = false;
    QByteArray m_pending;
    quint64 m_skipped = 0;
    quint64 m_total = 0;
    std::unique_ptr<CCaptureRecorder> m_recorder;
};
