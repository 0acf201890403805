#pragma once

#include "CLineFollower.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>

// What Record writes: the raw bytes of the line in a capture file. It follows the line on a
// thread of its own and writes without waiting for the target, so one that stops taking bytes
// (a pipe nobody reads, a stalled USB stick or share) never holds up the line or the monitor:
// what it cannot keep up with is left out and said; while the target keeps up, every byte is
// written, in order.
class CCaptureRecorder : public CLineFollower {
public:
    // Bytes waiting for the file, and bytes handed over but not yet taken, beyond which further
    // chunks are left out: a minute and more of a serial line.
    static constexpr qsizetype kMaxBacklog = 1024 * 1024;
    static constexpr std::chrono::milliseconds kWriteInterval{100};

    // Creates or empties the file and starts recording into it; null with the reason when it
    // cannot be opened.
    static std::unique_ptr<CCaptureRecorder> Open(const QString& path, QString& error);
    ~CCaptureRecorder() override;

    // Writes what was handed over and the target takes, and closes the file. Empty when the
    // capture holds every byte, otherwise why not.
    QString Close();
    // Bytes in the file so far.
    quint64 Written() const { return m_written; }
    // A write failed: nothing more is written.
    bool Failed() const;
    // Empty while the capture is whole, otherwise why it is not.
    QString Problem() const;
    // Empty while the capture is whole, otherwise "Recording: " and the problem.
    QString StateLine() const override;

private:
    explicit CCaptureRecorder(std::unique_ptr<QFile> file);

    void Begin() override;
    void End() override;
    void Follow(const Chunk& chunk) override;
    void Followed() override;
    void Dropped(quint64 bytes) override;
    void WriteOut();
    void Fail(const QString& reason);

    std::atomic<quint64> m_written{0};

    mutable std::mutex m_statusMutex; // the window's thread reads the status
    quint64 m_leftOut = 0;
    QString m_error;

    // The recorder's thread alone.
    std::unique_ptr<QFile> m_file;
    QByteArray m_out; // bytes the file has not taken yet
};
