#pragma once

#include "CLineReader.h"
#include "CPortSettings.h"

#include <QByteArrayView>
#include <QMap>
#include <QString>
#include <QThread>
#include <functional>

class CSettingsArchive;

// A port: its settings and, once opened, the line (a serial device or a network connection,
// chosen by the device setting at each Open), read on a thread of its own. From the program's
// point of view the port is open from a successful Open() to Close(), even while the line
// itself is away and being reopened. A window opens it with BeginOpen, which never waits on the
// network.
class CTnCommPort {
public:
    CTnCommPort();
    virtual ~CTnCommPort();
    CTnCommPort(const CTnCommPort&) = delete;
    // Takes the other port's settings; neither port is opened or closed.
    CTnCommPort& operator=(const CTnCommPort& other);

    // Reads or writes the settings; a problem is recorded in the archive.
    virtual void Serialize(CSettingsArchive& archive);
    // Waits for the outcome, a network line's connection included.
    virtual bool Open();
    virtual bool Close();
    virtual bool IsOpen() const;
    // Opens like Open() without waiting on the network. A serial device, or a line that fails at
    // once (a wrong address), has its outcome before this returns; a network line is otherwise
    // left opening (DeviceState() Opening, IsOpen() still false) and its outcome comes later,
    // from this thread's event loop. `done` gets the outcome either way, unless Close() comes
    // first.
    void BeginOpen(const std::function<void(bool opened)>& done);
    // The per-character receive handler; runs on the reader's thread.
    virtual bool HandleTerminalData(char ch);

    // Why the last open failed, or the line's last error, in words.
    QString LastError() const;
    CLineReader::State DeviceState() const;
    // What the far end did with the line settings it was asked for.
    QString LineNotice() const;
    // The network line's transport and far end in words; empty for a serial device.
    QString LineLink() const;
    // The line's state in words, for the monitor and the relay's log: "Port DEVICE, 9600 8N1:
    // open" or "Line tcp HOST:PORT: connected", then the last error and the line settings' notice
    // when there are any.
    QStringList LineStatus() const;
    const CPortSettings& Settings() const { return m_settings; }
    void SetSettings(const CPortSettings& settings) { m_settings = settings; }

    // The program's other settings (journal, sharing, the window), kept in the settings file
    // beside the port's: every key this version does not use is optional, so older files read
    // as they are, and keys the file holds are written back unchanged.
    QString Option(const QString& key, const QString& fallback = {}) const;
    // A key is a lower-case word; a value never holds a line break (it would end the line).
    void SetOption(const QString& key, const QString& value);

protected:
    // Everything read from the device, a chunk at a time, on the reader's thread. Once Close()
    // has returned no chunk is being delivered and none will be, so every class whose override
    // uses its own members closes the port in its destructor: the reader would otherwise call
    // into a part already destroyed.
    virtual void HandleReceived(QByteArrayView chunk);
    // Runs `action` where no chunk is being delivered: on the reader's thread between two
    // chunks while the calling thread waits for it, or at once when nothing was ever read.
    void BetweenChunks(const std::function<void()>& action);

private:
    // A new reader, asked to open the line: the state it is then in.
    CLineReader::State StartOpen(CLineReader::Outcome outcome);
    void ReplaceReader();
    void Opened(quint64 attempt, bool opened, const std::function<void(bool)>& done);

    CPortSettings m_settings;
    QMap<QString, QString> m_options; // sorted, so the file is written in a stable order
    bool m_open = false;
    bool m_opening = false;
    quint64 m_attempt = 0; // BeginOpen's, so an outcome that comes too late is known
    QObject m_owner;       // where BeginOpen's outcomes are delivered: the opening thread
    QThread m_thread;
    CLineReader* m_reader = nullptr; // lives on m_thread; a new one for every Open
};
