#pragma once

#include "CPacedAction.h"
#include "CShareScreen.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <vector>

class CScreenChanges;
class CTerminalScreen;
class QWebSocket;

// The connected viewers and what they are sent. While anyone watches, a change of the screen goes
// out as soon as it is announced, but never more than once for every kTickMs (CPacedAction), so
// viewers get at most 10 updates a second. A new viewer gets the whole screen. A viewer whose
// unsent bytes pile up is skipped until it has caught up and then gets the newest whole screen, so
// it never holds up the others or grows the program's memory. Viewers only receive: what they send
// is never read beyond Qt's own protocol handling, and large frames end their connection.
class CShareViewers : public QObject {
    Q_OBJECT
public:
    static constexpr int kTickMs = 100;
    // Nothing changed for this long: an empty update tells the page the line is still alive.
    static constexpr int kHeartbeatMs = 5000;
    // Unsent bytes of one viewer: beyond kSkipBytes it is skipped, below kResumeBytes it gets
    // the newest screen again, beyond kDropBytes (only the protocol's own replies can get it
    // there) it is disconnected.
    static constexpr qint64 kSkipBytes = 64 * 1024;
    static constexpr qint64 kResumeBytes = 16 * 1024;
    static constexpr qint64 kDropBytes = 4 * kSkipBytes;
    // The kernel's send buffer of a viewer's connection, set small: left to itself it grows to
    // megabytes for a viewer that stops reading, which would hide it from the skipping above.
    static constexpr int kSocketBufferBytes = 32 * 1024;
    static constexpr quint64 kMaxIncoming = 1024;

    explicit CShareViewers(CScreenChanges& changes);
    ~CShareViewers() override;

    // Viewers beyond limit are refused; those already watching stay.
    void SetLimit(int limit) { m_limit = limit; }
    bool IsFull() const { return Count() >= m_limit; }
    int Count() const { return static_cast<int>(m_viewers.size()); }
    // What waits to go out to all of them, in bytes.
    qint64 UnsentBytes() const;
    // Takes the new viewer over and sends it the whole screen; connection is the one the
    // WebSocket took over, whose backlog tells how far behind the viewer is.
    void Add(QWebSocket* socket, QTcpSocket* connection);
    // Disconnects everyone.
    void Clear();

signals:
    void CountChanged(int count);

private:
    struct Viewer {
        QWebSocket* m_socket;
        QPointer<QTcpSocket> m_connection;
        bool m_current; // has every update so far
    };

    void Tick();
    void Publish();
    void TakeScreen();
    void StopWatching();
    const QString& WholeScreen();
    void Send(Viewer& viewer, const QString& update);
    void Remove(QWebSocket* socket);

    CScreenChanges& m_changes;
    CTerminalScreen& m_screen;
    int m_reader = -1; // while anyone watches
    std::vector<Viewer> m_viewers;
    int m_limit = 0;
    CShareScreen m_last;
    QString m_lastWhole; // m_last as a whole-screen update, made when first needed
    QTimer m_tick;       // for the heartbeat and the viewers catching up
    QElapsedTimer m_sinceSent;
    CPacedAction m_publish;
};
