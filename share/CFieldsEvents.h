#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QTimer>
#include <deque>
#include <vector>

class CFieldsFeed;
class QTcpSocket;

// The fields as a server-sent event stream (text/event-stream) for HTML graphics: a new client
// gets everything at once, then an event on every change the feed announces (at most one a
// tick). Every event holds every value, so a client whose unsent bytes pile up is simply
// skipped, and given the newest event once it has caught up: a slow client never holds up the
// others or grows the program's memory. What clients send is never read. Once the bound is
// reached a newcomer takes the place of the oldest stream of the client holding the most
// (CFairShare), so one client cannot keep the graphics of everyone else off the air.
// Each event carries the time of the change ("time", ms since the epoch). A client may ask for
// its events held back (video on air runs behind the venue): it gets each one that long after
// the change, from a history of the last minute that all clients share.
class CFieldsEvents : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 kSkipBytes = 64 * 1024;
    static constexpr qint64 kResumeBytes = 16 * 1024;
    // Nothing changed for this long: a comment line keeps proxies from closing the stream.
    static constexpr int kHeartbeatMs = 15000;
    static constexpr qint64 kMaxDelayMs = 60000;

    explicit CFieldsEvents(CFieldsFeed& feed);
    ~CFieldsEvents() override;

    void SetLimit(int limit) { m_limit = limit; }
    bool IsFull() const { return Count() >= m_limit; }
    // Ends a stream when the bound is reached, to make room for a newcomer; false when there is
    // no room to make (a bound of none).
    bool MakeRoom();
    int Count() const { return static_cast<int>(m_clients.size()); }
    // What waits to go out to all of them, in bytes.
    qint64 UnsentBytes() const;
    // Takes over the socket of a request for the stream, and answers it with everything, as it
    // stood delayMs ago (at most kMaxDelayMs).
    void Add(QTcpSocket* socket, qint64 delayMs = 0);
    // Disconnects everyone.
    void Clear();

private:
    struct Client {
        QTcpSocket* m_socket;
        QHostAddress m_client;
        bool m_current; // has the newest event due to it
        qint64 m_delayMs;
        quint64 m_sent; // the number of the last event it was given
    };
    struct Past {
        qint64 m_at; // ms since the epoch
        quint64 m_number;
        QByteArray m_event;
    };

    void Announce();
    void Heartbeat();
    void Send(Client& client, const QByteArray& data);
    void CatchUp(QTcpSocket* socket);
    void Remove(QTcpSocket* socket);
    void Record();
    // The newest event held back long enough for the client; the oldest known when none is.
    const Past& Due(const Client& client) const;
    void SendDue();
    void ScheduleDue();

    CFieldsFeed& m_feed;
    std::vector<Client> m_clients;
    int m_limit = 0;
    QTimer m_heartbeat;
    QTimer m_due;
    std::deque<Past> m_history; // never empty while there are clients
    quint64 m_count = 0;
};
