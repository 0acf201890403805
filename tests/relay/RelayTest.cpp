#include "CJournalFolder.h"
#include "CMosquitto.h"
#include "CScreenCommands.h"
#include "PortTestSupport.h"
#include "PtyPair.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QString kCode = QStringLiteral("ready23456");
// Every family of the line's commands, and a stray byte of each high value.
std::string Stream() {
    std::string out = "\x1b"
                      "a3R10CHome 21\x1b"
                      "F2nd period\r\x1b=\x22\x30Visitors 17\x1b"
                      "fRelay\r";
    for (int c = 0x80; c < 0x100; ++c)
        out += static_cast<char>(c);
    return out;
}

std::string ScreenOf(const std::string& bytes) {
    CTerminalScreen screen;
    screen.ReceiveBytes(bytes);
    screen.ProcessReceived();
    return CScreenCommands::Of(screen);
}

int HttpStatus(const QString& url) {
    QNetworkAccessManager manager;
    QNetworkReply* reply = manager.get(QNetworkRequest(QUrl(url)));
    WaitUntil([reply] { return reply->isFinished(); });
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    delete reply;
    return status;
}

// The relay as a real process: a line on a pseudo-terminal, journalled, shared and published;
// a mirror on the broker and the journal both end in the line's exact screen, and SIGTERM
// stops it cleanly, its last word on the broker "offline".
TEST(Relay, JournalsSharesAndPublishesTheLineAndStopsOnSigterm) {
    CMosquitto broker;
    ASSERT_TRUE(broker.Start());
    PtyPair pty;
    QTemporaryDir dir;
    const QString journal = dir.filePath(QStringLiteral("journal"));
    const quint16 sharePort = FreeTcpPort();
    QProcess relay;
    relay.start(QStringLiteral(TALLYVIEW_RELAY),
                {QStringLiteral("--device"), QString::fromStdString(pty.SlavePath()),
                 QStringLiteral("--journal"), journal, QStringLiteral("--share"),
                 QString::number(sharePort), QStringLiteral("--share-code"), kCode,
                 QStringLiteral("--publish"), broker.Url(QStringLiteral("hall"))});
    QByteArray log;
    const auto logged = [&](const char* text) {
        return WaitUntil(
                   [&] {
                       log += relay.readAllStandardError();
                       return log.contains(text) || relay.state() == QProcess::NotRunning;
                   },
                   20000) &&
               log.contains(text);
    };
    ASSERT_TRUE(logged(": open")) << log.toStdString();

    CRecordingPort mirror;
    ASSERT_TRUE(mirror.OpenOn(broker.Url(QStringLiteral("hall"))));
    const std::string bytes = Stream();
    pty.Write(bytes);
    const auto mirrored = [&] {
        mirror.ProcessReceived();
        return CScreenCommands::Of(mirror) == ScreenOf(bytes);
    };
    EXPECT_TRUE(WaitUntil(mirrored, 20000)) << mirror.LastError().toStdString();
    EXPECT_EQ(HttpStatus(QStringLiteral("http://127.0.0.1:%1/?code=%2").arg(sharePort).arg(kCode)),
              200);

    relay.terminate();
    ASSERT_TRUE(relay.waitForFinished(20000));
    EXPECT_EQ(relay.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(relay.exitCode(), 0);
    log += relay.readAllStandardError();
    EXPECT_TRUE(log.contains("Stopping on signal 15")) << log.toStdString();
    EXPECT_TRUE(WaitUntil([&] { return mirror.LastError().contains(QLatin1String("offline")); }))
        << mirror.LastError().toStdString();

    CTerminalScreen restored;
    CJournalFolder(journal).Restore(restored, 1, QDateTime::currentDateTime());
    EXPECT_EQ(CScreenCommands::Of(restored), ScreenOf(bytes));
}

// Without a code anywhere the relay makes one, and the address it logs is the one served.
TEST(Relay, LogsTheAddressItServesWithTheCodeItMade) {
    const quint16 sharePort = FreeTcpPort();
    QProcess relay;
    relay.start(
        QStringLiteral(TALLYVIEW_RELAY),
        {QStringLiteral("--device"), QStringLiteral("listen://127.0.0.1:%1").arg(FreeTcpPort()),
         QStringLiteral("--no-journal"), QStringLiteral("--share"), QString::number(sharePort)});
    const QRegularExpression address(QStringLiteral("Sharing the screen at (\\S+)"));
    QString log;
    ASSERT_TRUE(WaitUntil(
        [&] {
            log += QString::fromLocal8Bit(relay.readAllStandardError());
            return address.match(log).hasMatch() || relay.state() == QProcess::NotRunning;
        },
        20000))
        << log.toStdString();
    ASSERT_TRUE(address.match(log).hasMatch()) << log.toStdString();
    EXPECT_EQ(HttpStatus(address.match(log).captured(1)), 200);
    relay.terminate();
    EXPECT_TRUE(relay.waitForFinished(20000));
}

} // namespace
