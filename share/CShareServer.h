#pragma once

#include "CFieldsEvents.h"
#include "CShareConfig.h"
#include "CShareViewers.h"
#include "CStoryRoutes.h"

#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWebSocketServer>
#include <functional>
#include <memory>
#include <vector>

class CFieldsFeed;
class CHttpConnection;
class CHttpRequest;
class CScreenChanges;
class QTcpServer;
class QTcpSocket;

// Serves the live screen read-only to browsers: the page (entirely from the program) at
// "/?code=CODE" and its updates over a WebSocket at "/ws?code=CODE". A small GET-only responder
// reads each request; a WebSocket upgrade is handed to Qt WebSockets, which does the framing.
// The fields are served beside it: polled as files ("/fields.json", "/tables/NAME.csv") and
// pushed as an event stream ("/fields/events"), and their story from the journal (CStoryRoutes).
// Without the right code every request gets 403 and nothing else. The page is read-only by
// construction: nothing a viewer sends is ever interpreted.
class CShareServer : public QObject {
    Q_OBJECT
public:
    // Connections still sending their request (or in their TLS handshake). When they are all
    // taken, a new one takes the place of the oldest incomplete one of the client holding the
    // most (CFairShare).
    static constexpr int kMaxRequests = 128;
    // Descriptors kept for all but the web view: the line, the broker, the journal, the fields
    // files, the standard streams and the toolkit's own.
    static constexpr int kKeptDescriptors = 64;
    // How long the server waits to accept again when the descriptors ran out all the same.
    static constexpr int kAcceptPauseMs = 500;

    // The bounds on viewers (and as many fields streams) and on requests, lowered where they
    // would not fit, with the descriptors kept, in the process's limit on open files: a flood
    // then meets the bounds, which make room for everyone else, and never the limit, which
    // would shut everyone out, the line's reconnection too.
    struct Bounds {
        int m_viewers;
        int m_requests;
        bool operator==(const Bounds&) const = default;
    };
    static Bounds Fit(int maxViewers, int descriptorLimit);

    CShareServer(CScreenChanges& changes, CFieldsFeed& fields, QObject* parent = nullptr);
    ~CShareServer() override;

    // Serves with this config (port 0: any free port) until Stop; false when it cannot, with
    // the reason in LastError(). A running server is stopped first.
    bool Start(const CShareConfig& config);
    void Stop();
    bool IsServing() const { return m_listener != nullptr; }
    quint16 ServingPort() const;
    int ViewerCount() const { return m_viewers.Count(); }
    int FieldsStreamCount() const { return m_fieldsEvents.Count(); }
    // "Web viewers: N" (and ", fields streams: M" while there are any) while serving, for the
    // monitor and the relay's log; empty otherwise.
    QString ViewersLine() const;
    // What waits to go out to the viewers and the fields streams, in bytes.
    qint64 UnsentBytes() const { return m_viewers.UnsentBytes() + m_fieldsEvents.UnsentBytes(); }
    const QString& LastError() const { return m_lastError; }
    // The journal the story routes read.
    void SetJournalFolder(const QString& folder) { m_story.SetJournalFolder(folder); }

signals:
    void ViewersChanged(int count);

private:
    struct Request {
        CHttpConnection* m_connection;
        QHostAddress m_client;
    };

    void OnNewConnection();
    bool MakeRoom();
    void OnRequest(CHttpConnection* connection, const CHttpRequest& request);
    // True when the request was for the fields, and answered.
    bool AnswerFields(CHttpConnection* connection, const CHttpRequest& request);
    void OnUpgraded();
    // The connection the WebSocket took over, or nullptr.
    QTcpSocket* TakeUpgraded(const QWebSocket& socket);

    std::unique_ptr<QTcpServer> m_listener;
    QWebSocketServer m_upgrader;
    CShareViewers m_viewers;
    CFieldsFeed& m_fields;
    CFieldsEvents m_fieldsEvents;
    CStoryRoutes m_story;
    QString m_code;
    QString m_lastError;
    std::vector<Request> m_requests; // oldest first
    int m_maxRequests = kMaxRequests;
    // Connections handed to the upgrader, until their WebSocket comes out of it.
    std::vector<QPointer<QTcpSocket>> m_upgrading;
};
