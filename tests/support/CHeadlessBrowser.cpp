#include "CHeadlessBrowser.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

CHeadlessBrowser::CHeadlessBrowser() = default;

CHeadlessBrowser::~CHeadlessBrowser() {
    m_devtools.abort();
    m_process.kill();
    m_process.waitForFinished(5000);
}

bool CHeadlessBrowser::Open(const QString& url) {
    m_process.setProgram(QStringLiteral("chromium"));
    m_process.setArguments({"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                            "--no-first-run", "--disable-background-networking",
                            "--disable-component-update", "--disable-sync",
                            "--remote-debugging-port=0", "--window-size=1400,900",
                            "--user-data-dir=" + m_profile.path(), "about:blank"});
    m_process.start();
    // Chromium tells where its DevTools endpoint listens on standard error.
    static const QRegularExpression endpoint(QStringLiteral("DevTools listening on (ws://\\S+)"));
    QString output;
    const bool listening = QTest::qWaitFor(
        [&] {
            output += QString::fromLocal8Bit(m_process.readAllStandardError());
            return endpoint.match(output).hasMatch() || m_process.state() == QProcess::NotRunning;
        },
        kTimeoutMs);
    const QRegularExpressionMatch match = endpoint.match(output);
    if (!listening || !match.hasMatch()) {
        m_error = QStringLiteral("chromium did not start: ") + output.right(500);
        return false;
    }
    m_devtools.open(QUrl(match.captured(1)));
    if (!QTest::qWaitFor([&] { return m_devtools.state() == QAbstractSocket::ConnectedState; },
                         kTimeoutMs)) {
        m_error = QStringLiteral("no DevTools connection");
        return false;
    }
    const QString target = Call(QStringLiteral("Target.createTarget"), {{"url", url}}, false)
                               .value("targetId")
                               .toString();
    m_session = Call(QStringLiteral("Target.attachToTarget"),
                     {{"targetId", target}, {"flatten", true}}, false)
                    .value("sessionId")
                    .toString();
    if (m_session.isEmpty())
        m_error = QStringLiteral("no page session");
    return !m_session.isEmpty();
}

QJsonObject CHeadlessBrowser::Call(const QString& method, const QJsonObject& params, bool inPage) {
    const int id = m_nextId++;
    QJsonObject request{{"id", id}, {"method", method}, {"params", params}};
    if (inPage)
        request.insert("sessionId", m_session);
    QJsonObject result;
    bool answered = false;
    QEventLoop loop;
    const QMetaObject::Connection reading =
        QObject::connect(&m_devtools, &QWebSocket::textMessageReceived, [&](const QString& text) {
            const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
            if (message.value("id").toInt() != id)
                return;
            result = message.value("result").toObject();
            answered = true;
            loop.quit();
        });
    QTimer::singleShot(kTimeoutMs, &loop, &QEventLoop::quit);
    m_devtools.sendTextMessage(
        QString::fromUtf8(QJsonDocument(request).toJson(QJsonDocument::Compact)));
    if (!answered)
        loop.exec();
    QObject::disconnect(reading);
    return result;
}

QJsonValue CHeadlessBrowser::Evaluate(const QString& expression) {
    return Call(QStringLiteral("Runtime.evaluate"),
                {{"expression", expression}, {"returnByValue", true}})
        .value("result")
        .toObject()
        .value("value");
}

bool CHeadlessBrowser::WaitFor(const QString& expression, int timeoutMs) {
    return QTest::qWaitFor([&] { return Evaluate(expression).toBool(); }, timeoutMs);
}

QByteArray CHeadlessBrowser::ScreenshotPng() {
    return QByteArray::fromBase64(
        Call(QStringLiteral("Page.captureScreenshot"), {{"format", "png"}})
            .value("data")
            .toString()
            .toLatin1());
}

void CHeadlessBrowser::SetViewport(int width, int height) {
    Call(QStringLiteral("Emulation.setDeviceMetricsOverride"),
         {{"width", width}, {"height", height}, {"deviceScaleFactor", 3}, {"mobile", true}});
}

void CHeadlessBrowser::SetTransparentFrame(int width, int height) {
    Call(QStringLiteral("Emulation.setDeviceMetricsOverride"),
         {{"width", width}, {"height", height}, {"deviceScaleFactor", 1}, {"mobile", false}});
    Call(QStringLiteral("Emulation.setDefaultBackgroundColorOverride"),
         {{"color", QJsonObject{{"r", 0}, {"g", 0}, {"b", 0}, {"a", 0}}}});
}

void CHeadlessBrowser::WatchResponses() {
    QObject::connect(&m_devtools, &QWebSocket::textMessageReceived, [this](const QString& text) {
        const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
        if (message.value("method").toString() != QLatin1String("Network.responseReceived"))
            return;
        const QJsonObject response =
            message.value("params").toObject().value("response").toObject();
        m_responses.append({response.value("url").toString(), response.value("status").toInt()});
    });
    Call(QStringLiteral("Network.enable"), {});
}

QList<int> CHeadlessBrowser::ResponseStatuses(const QString& urlPart) const {
    QList<int> statuses;
    for (const auto& [url, status] : m_responses)
        if (url.contains(urlPart))
            statuses.append(status);
    return statuses;
}
