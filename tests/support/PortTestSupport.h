#pragma once

#include "CTerminalPort.h"
#include "ScreenTestSupport.h"

#include <QFile>
#include <QList>
#include <QPair>
#include <QProcess>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>

// Readable failure output for Qt strings.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

inline ScreenState ReplayAlone(const QString& path) {
    return ReplayAlone(QFile::encodeName(path).toStdString());
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

// Writes a settings file as the window stores it: the line on device, with these optional keys.
bool WriteSettingsFile(const QString& path, const QString& device,
                       const QList<QPair<QString, QString>>& options = {});

// Opens `port` on device with 8N1 at 115200 and protocol 3.
bool OpenTerminalPort(CTerminalPort& port, const QString& device);

// A terminal port that also keeps, in order, every byte its handler got.
class CRecordingPort : public CTerminalPort {
public:
    ~CRecordingPort() override { Close(); }
    bool HandleTerminalData(char ch) override;
    std::string Seen() const;
    bool OpenOn(const QString& device) { return OpenTerminalPort(*this, device); }

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

// ser2net serving a serial device (one end of a pseudo-terminal pair) on loopback: a raw TCP
// accepter, an RFC 2217 accepter and a plain Telnet one without the COM-PORT option. Its
// configuration lives in dir; it keeps its ports across Stop and Start.
class CSer2Net {
public:
    enum Accepter { Raw, Rfc2217, TelnetOnly, kAccepters };

    CSer2Net(const QString& device, const QString& dir);
    ~CSer2Net();
    bool Start();
    void Stop();
    // Whether ser2net has the device open: it opens it only after taking a connection, and
    // what the device receives before then is not delivered.
    bool DeviceInUse() const;
    // "tcp://127.0.0.1:PORT" or "rfc2217://127.0.0.1:PORT" for the accepter.
    QString Address(Accepter accepter) const;

private:
    bool Listening() const;

    QString m_device;
    QString m_config;
    quint16 m_ports[kAccepters] = {};
    QProcess m_process;
};

// A loopback TCP port nobody listens on, for a server the test starts; 0 when none is free.
quint16 FreeTcpPort();

// What stty -a says of the terminal device.
QString Stty(const std::string& device);

// The status of a GET of url, 0 when no answer came.
int HttpStatus(const QString& url);

// Runs the event loop for ms and returns the CPU seconds the process used meanwhile.
double CpuWhileIdle(int ms);
