#include "CJournalFolder.h"
#include "CMosquitto.h"
#include "CRelayProcess.h"
#include "PortTestSupport.h"
#include "PtyPair.h"

#include <QDateTime>
#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>

namespace {

const QString kCode = QStringLiteral("ready23456");
const QString kRelay = QStringLiteral(TALLYVIEW_RELAY);
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
    CRelayProcess relay(kRelay,
                        {QStringLiteral("--device"), QString::fromStdString(pty.SlavePath()),
                         QStringLiteral("--journal"), journal, QStringLiteral("--share"),
                         QString::number(sharePort), QStringLiteral("--share-code"), kCode,
                         QStringLiteral("--publish"), broker.Url(QStringLiteral("hall"))});
    ASSERT_TRUE(relay.Logged(": open")) << relay.Log().toStdString();

    CRecordingPort mirror;
    ASSERT_TRUE(mirror.OpenOn(broker.Url(QStringLiteral("hall"))));
    const std::string bytes = Stream();
    pty.Write(bytes);
    const auto mirrored = [&] {
        mirror.ProcessReceived();
        return StateOf(mirror) == FeedWhole(bytes);
    };
    EXPECT_TRUE(WaitUntil(mirrored, 20000)) << mirror.LastError().toStdString();
    EXPECT_EQ(HttpStatus(QStringLiteral("http://127.0.0.1:%1/?code=%2").arg(sharePort).arg(kCode)),
              200);

    EXPECT_EQ(relay.Stop(SIGTERM), 0);
    EXPECT_TRUE(relay.Log().contains("Stopping on signal 15")) << relay.Log().toStdString();
    EXPECT_TRUE(WaitUntil([&] { return mirror.LastError().contains(QLatin1String("offline")); }))
        << mirror.LastError().toStdString();

    CTerminalScreen restored;
    CJournalFolder(journal).Restore(restored, 1, QDateTime::currentDateTime());
    EXPECT_EQ(StateOf(restored), FeedWhole(bytes));
}

struct Refusal {
    QStringList m_arguments;
    const char* m_named; // what the complaint names
};

// Options it cannot use: refused with exit status 2, before anything starts.
TEST(Relay, RefusesOptionsItCannotUse) {
    const Refusal refusals[] = {{{"--baud", "fast"}, "--baud"},
                                {{"--baud", "0"}, "--baud"},
                                {{"--share", "70000"}, "--share"},
                                {{"--share", "0"}, "--share takes a port from 1"},
                                {{"--share", "all:0"}, "--share takes a port from 1"},
                                {{"--share", "all:"}, "--share"},
                                {{"--share-code", "ABC"}, "--share-code"},
                                {{"--device", "/dev/null", "stray"}, "stray"},
                                {{"--frobnicate"}, "frobnicate"}};
    for (const Refusal& r : refusals) {
        QProcess relay;
        relay.start(QStringLiteral(TALLYVIEW_RELAY), r.m_arguments);
        ASSERT_TRUE(relay.waitForFinished(20000)) << r.m_named;
        EXPECT_EQ(relay.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(relay.exitCode(), 2) << r.m_named;
        const QByteArray said = relay.readAllStandardError();
        EXPECT_TRUE(said.contains(r.m_named)) << said.toStdString();
    }
}

// The line from a settings file, its baud rate from --baud; no journal with --no-journal; the
// address it logs for --share is served; SIGINT stops it cleanly; the file is never written.
TEST(Relay, ReadsTheSettingsFileNeverWritesItAndStopsOnSigint) {
    PtyPair pty;
    QTemporaryDir dir;
    const QString settings = dir.filePath(QStringLiteral("Tallyview.cfg"));
    ASSERT_TRUE(WriteSettingsFile(settings, QString::fromStdString(pty.SlavePath())));
    QFile file(settings);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    const QByteArray written = file.readAll();
    const QDateTime old = QDateTime::currentDateTime().addDays(-1);
    ASSERT_TRUE(file.setFileTime(old, QFileDevice::FileModificationTime));
    file.close();

    CRelayProcess relay(kRelay, {QStringLiteral("--settings"), settings, QStringLiteral("--baud"),
                                 QStringLiteral("9600"), QStringLiteral("--no-journal"),
                                 QStringLiteral("--share"), QString::number(FreeTcpPort())});
    ASSERT_TRUE(relay.Logged(": open")) << relay.Log().toStdString();
    EXPECT_TRUE(Stty(pty.SlavePath()).contains(QLatin1String("speed 9600 baud")));
    ASSERT_TRUE(relay.Logged("Sharing the screen at ")) << relay.Log().toStdString();
    const QByteArray log = relay.Log();
    const qsizetype at = log.indexOf("http://");
    const QString url = QString::fromLatin1(log.mid(at, log.indexOf('\n', at) - at)).trimmed();
    EXPECT_EQ(HttpStatus(url), 200) << url.toStdString();
    pty.Write("\x1b+HOME 3");
    EXPECT_TRUE(WaitUntil([&] { return pty.Unread() == 0; }));

    EXPECT_EQ(relay.Stop(SIGINT), 0);
    EXPECT_TRUE(relay.Log().contains("Stopping on signal 2")) << relay.Log().toStdString();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
              QStringList{QStringLiteral("Tallyview.cfg")});
    EXPECT_EQ(QFileInfo(settings).lastModified(), old);
    QFile after(settings);
    ASSERT_TRUE(after.open(QIODevice::ReadOnly));
    EXPECT_EQ(after.readAll(), written);
}

// Killed without a word, the publisher still goes offline on the broker: its last will.
TEST(Relay, KilledPublisherGoesOfflineByItsLastWill) {
    CMosquitto broker;
    ASSERT_TRUE(broker.Start());
    PtyPair pty;
    CRelayProcess relay(kRelay,
                        {QStringLiteral("--device"), QString::fromStdString(pty.SlavePath()),
                         QStringLiteral("--no-journal"), QStringLiteral("--publish"),
                         broker.Url(QStringLiteral("hall"))});
    ASSERT_TRUE(relay.Logged(": open")) << relay.Log().toStdString();
    CRecordingPort mirror;
    ASSERT_TRUE(mirror.OpenOn(broker.Url(QStringLiteral("hall"))));
    pty.Write("\x1b+ALIVE");
    ASSERT_TRUE(WaitUntil(
        [&] {
            mirror.ProcessReceived();
            return mirror.Rows()[0].starts_with("ALIVE");
        },
        20000));
    EXPECT_FALSE(mirror.LastError().contains(QLatin1String("offline")));
    EXPECT_EQ(relay.Stop(SIGKILL), -1);
    EXPECT_TRUE(
        WaitUntil([&] { return mirror.LastError().contains(QLatin1String("offline")); }, 20000))
        << mirror.LastError().toStdString();
}

// The systemd unit passes systemd's own check, with the relay where the unit expects it.
TEST(Relay, SystemdUnitVerifies) {
    const QString analyze = QStandardPaths::findExecutable(QStringLiteral("systemd-analyze"));
    if (analyze.isEmpty())
        GTEST_SKIP() << "systemd-analyze is not installed (Debian package systemd)";
    QFile unit(QStringLiteral(TALLYVIEW_RELAY_UNIT));
    ASSERT_TRUE(unit.open(QIODevice::ReadOnly));
    QByteArray text = unit.readAll();
    ASSERT_TRUE(text.contains("ExecStart=/usr/bin/tallyview-relay "));
    text.replace("ExecStart=/usr/bin/tallyview-relay ", "ExecStart=" TALLYVIEW_RELAY " ");
    QTemporaryDir dir;
    QFile copy(dir.filePath(QStringLiteral("tallyview-relay.service")));
    ASSERT_TRUE(copy.open(QIODevice::WriteOnly) && copy.write(text) == text.size());
    copy.close();
    QProcess verify;
    verify.start(analyze, {QStringLiteral("verify"), QStringLiteral("--man=no"), copy.fileName()});
    ASSERT_TRUE(verify.waitForFinished(60000));
    const QByteArray said = verify.readAllStandardError() + verify.readAllStandardOutput();
    EXPECT_EQ(verify.exitCode(), 0) << said.toStdString();
    EXPECT_EQ(said, "");
}

} // namespace
