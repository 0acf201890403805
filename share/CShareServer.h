#pragma once

#include "CFieldsEvents.h"
#include "CShareConfig.h"
#include "CShareViewers.h"

#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QWebSocketServer>
#include <functional>
#include <memory>
#include <vector>

class CFieldsFeed;
class CHttpConnection;
class CHttpRequest;
class CTerminalScreen;
class QTcpServer;

// Serves the live screen read-only to browsers: the page (entirely from the program) at
// "/?code=CODE" and its updates over a WebSocket at "/ws?code=CODE". A small GET-only responder
// reads each request; a WebSocket upgrade is handed to Qt WebSockets, which does the framing.
// The fields are served beside it: polled as files ("/fields.json", "/tables/NAME.csv") and
// pushed as an event stream ("/fields/events").
// Without the right code every request gets 403 and nothing else. The page is read-only by
// construction: nothing a viewer sends is ever interpreted.
class CShareServer : public QObject {
    Q_OBJECT
public:
    // Connections still sending their request (or in their TLS handshake). When they are all
    // taken, a new one takes the place of the oldest incomplete one of the client holding the
    // most: however many one client opens and renews, it then only gives up its own, and
    // everyone else still gets in; a crowd behind one router may use them all while alone.
    static constexpr int kMaxRequests = 128;

    CShareServer(CTerminalScreen& screen, std::function<bool()> mayDrain, CFieldsFeed& fields,
                 QObject* parent = nullptr);
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
    bool AnswerFields(CHttpConnection* connection, const QByteArray& path);
    void OnUpgraded();

    std::unique_ptr<QTcpServer> m_listener;
    QWebSocketServer m_upgrader;
    CShareViewers m_viewers;
    CFieldsFeed& m_fields;
    CFieldsEvents m_fieldsEvents;
    QString m_code;
    QString m_lastError;
    std::vector<Request> m_requests; // oldest first
};
