#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QPair>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QWebSocket>

// Debian's chromium, headless, driven over its DevTools protocol: one page, JavaScript
// evaluated in it, screenshots. Every call runs the event loop while it waits, so a server in
// the test's own process keeps serving.
class CHeadlessBrowser {
public:
    static constexpr int kTimeoutMs = 20000;

    CHeadlessBrowser();
    ~CHeadlessBrowser();

    // False (with the reason in Error()) when the browser cannot be started or reached.
    bool Open(const QString& url);
    // The value of a JavaScript expression in the page; undefined on failure.
    QJsonValue Evaluate(const QString& expression);
    // Polls the expression until it is true.
    bool WaitFor(const QString& expression, int timeoutMs = kTimeoutMs);
    QByteArray ScreenshotPng();
    // The page laid out as a phone of this size in CSS pixels shows it.
    void SetViewport(int width, int height);
    // The page laid out as a video frame of this size in pixels, with nothing behind it: a
    // screenshot keeps what the page leaves transparent.
    void SetTransparentFrame(int width, int height);
    // From now on the status of every response the page receives is kept, its refusals too.
    void WatchResponses();
    // The statuses kept so far of the responses for URLs holding this text, in order.
    QList<int> ResponseStatuses(const QString& urlPart) const;
    const QString& Error() const { return m_error; }

private:
    QJsonObject Call(const QString& method, const QJsonObject& params, bool inPage = true);

    QTemporaryDir m_profile;
    QProcess m_process;
    QWebSocket m_devtools;
    QString m_session;
    QString m_error;
    int m_nextId = 1;
    QList<QPair<QString, int>> m_responses; // URL, status
};
