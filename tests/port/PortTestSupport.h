#pragma once

#include "CTerminalPort.h"

#include <QProcess>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>

// Readable failure output for Qt strings.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

// Runs the event loop until done() holds or timeoutMs passed; returns done().
bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 5000);

// Makes this thread's file accesses those of an ordinary user while it lives, so permission
// checks hold when the tests run as root. Nothing changes for an ordinary user.
class CUnprivilegedFiles {
public:
    CUnprivilegedFiles();
    ~CUnprivilegedFiles();
    CUnprivilegedFiles(const CUnprivilegedFiles&) = delete;
    CUnprivilegedFiles& operator=(const CUnprivilegedFiles&) = delete;

private:
    bool m_dropped = false;
};

// A terminal port that also keeps, in order, every byte its handler got.
class CRecordingPort : public CTerminalPort {
public:
    ~CRecordingPort() override { Close(); }
    bool HandleTerminalData(char ch) override;
    std::string Seen() const;
    // Opens on device with 8N1 at 115200 and protocol 3.
    bool OpenOn(const QString& device);

private:
    mutable std::mutex m_mutex;
    std::string m_seen;
};

// socat playing the statistics computer on a pseudo-terminal reached through a symbolic link,
// the way a USB adapter appears and disappears: stopping it removes the device.
class CSocatLine {
public:
    explicit CSocatLine(const QString& link);
    ~CSocatLine();
    bool Start();
    void Stop();
    void Write(const QByteArray& bytes);

private:
    QString m_link;
    QProcess m_process;
};
