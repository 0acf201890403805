// The traffic monitor and the tap it reads the line through.
#include "CCaptureRecorder.h"
#include "CModalAnswerer.h"
#include "CPortWindows.h"
#include "CTempCwd.h"
#include "CTnCommMonitor.h"
#include "CTrafficTap.h"
#include "PortTestSupport.h"
#include "PtyPair.h"

#include <QFile>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

namespace {

TEST(TrafficMonitor, LineShowsTimeHexAndPrintableCharacters) {
    EXPECT_EQ(
        CTnCommMonitor::FormatLine(QStringLiteral("12:00:01.250"), QByteArrayView("\x00\x1b"
                                                                                  "A~\x7f\xff\r",
                                                                                  7)),
        QStringLiteral("12:00:01.250  00 1B 41 7E 7F FF 0D") + QString(29, QLatin1Char(' ')) +
            QStringLiteral("..A~..."));
}

TEST(TrafficTap, KeepsTheNewestBytesForDisplayAndCountsEverything) {
    CTrafficTap tap;
    tap.Feed("unwatched");
    EXPECT_TRUE(tap.Take().m_bytes.isEmpty());

    tap.SetWatching(true);
    QByteArray fed;
    for (int i = 0; fed.size() < 3 * CTrafficTap::kMaxPending + 5; ++i)
        fed += QByteArray::number(i) + ' ';
    for (qsizetype i = 0; i < fed.size(); i += 1000)
        tap.Feed(QByteArrayView(fed).sliced(i, std::min<qsizetype>(1000, fed.size() - i)));

    const CTrafficTap::Batch batch = tap.Take();
    EXPECT_EQ(batch.m_bytes, fed.right(CTrafficTap::kMaxPending));
    EXPECT_EQ(batch.m_skipped, quint64(fed.size() - CTrafficTap::kMaxPending));
    EXPECT_EQ(tap.Total(), quint64(fed.size()) + 9);
    EXPECT_TRUE(tap.Take().m_bytes.isEmpty());
}

TEST(TrafficMonitor, ShowsTheLiveLineAndRecordsItRaw) {
    CTempCwd cwd;
    PtyPair pty;
    CRecordingPort port;
    ASSERT_TRUE(port.OpenOn(QString::fromStdString(pty.SlavePath())));
    ASSERT_TRUE(port.ViewMonitor(1));
    const CTnCommMonitor& monitor = *CPortWindows::Instance().Monitor(port);
    EXPECT_TRUE(monitor.isVisible());

    pty.Write("Hello\x1b");
    EXPECT_TRUE(WaitUntil([&] {
        return monitor.View().toPlainText().contains(QLatin1String("48 65 6C 6C 6F 1B")) &&
               monitor.CountText().contains(QLatin1String("Received: 6 bytes"));
    })) << monitor.View().toPlainText().toStdString();
    EXPECT_TRUE(monitor.View().toPlainText().endsWith(QLatin1String("Hello.")));
    EXPECT_TRUE(monitor.StateText().contains(QString::fromStdString(pty.SlavePath())));
    EXPECT_TRUE(monitor.StateText().contains(QLatin1String("115200 8N1: open")));

    const QString capture = cwd.File(QStringLiteral("game.cap"));
    ASSERT_TRUE(CPortWindows::Instance().Monitor(port)->StartRecording(capture));
    std::string recorded;
    for (int round = 0; round < 40; ++round)
        for (int b = 0; b < 256; ++b)
            recorded += static_cast<char>((b + round) % 256);
    pty.Write(recorded);
    ASSERT_TRUE(WaitUntil([&] { return port.Seen().size() == 6 + recorded.size(); }));
    CPortWindows::Instance().Monitor(port)->StopRecording();
    pty.Write("after the recording");
    ASSERT_TRUE(WaitUntil([&] { return port.Seen().size() == 25 + recorded.size(); }));

    QFile file(capture);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll() == QByteArray::fromStdString(recorded));
    EXPECT_EQ(port.PendingSize(), 25 + recorded.size()); // the monitor takes nothing away
}

// A capture target that stops taking bytes: a pipe whose reader never reads.
TEST(TrafficMonitor, ACaptureThatStopsTakingBytesHoldsUpNeitherTheLineNorTheWindow) {
    CTempCwd cwd;
    PtyPair pty;
    CRecordingPort port;
    ASSERT_TRUE(port.OpenOn(QString::fromStdString(pty.SlavePath())));
    ASSERT_TRUE(port.ViewMonitor(1));
    CTnCommMonitor& monitor = *CPortWindows::Instance().Monitor(port);
    const QString capture = cwd.File(QStringLiteral("stalled.cap"));
    ASSERT_EQ(mkfifo(QFile::encodeName(capture).constData(), 0600), 0);
    QFile stalled; // gone before the port, so a line held up by it would be let go
    ASSERT_TRUE(stalled.open(::open(QFile::encodeName(capture).constData(), O_RDONLY | O_NONBLOCK),
                             QIODevice::ReadOnly, QFileDevice::AutoCloseHandle));
    ASSERT_TRUE(monitor.StartRecording(capture));

    // Several times what the pipe and the recorder hold, in steps the line must each deliver.
    const std::string step(64 * 1024, 'x');
    std::size_t sent = 0;
    while (sent < 3 * std::size_t(CCaptureRecorder::kMaxBacklog)) {
        pty.Write(step);
        sent += step.size();
        ASSERT_TRUE(WaitUntil([&] { return port.Seen().size() == sent; })) << sent;
    }
    const QString received = QStringLiteral("Received: %1 bytes").arg(sent);
    EXPECT_TRUE(WaitUntil([&] {
        return monitor.CountText().contains(received) &&
               monitor.StateText().contains(QLatin1String("Recording: ")) &&
               monitor.StateText().contains(QLatin1String(" bytes left out"));
    })) << monitor.CountText().toStdString()
        << monitor.StateText().toStdString();

    CModalAnswerer answers({CModalAnswerer::Ok, CModalAnswerer::Ok});
    monitor.StopRecording();
    // Every byte is either in the pipe or counted as left out.
    int inPipe = 0;
    ASSERT_EQ(ioctl(stalled.handle(), FIONREAD, &inPipe), 0);
    EXPECT_EQ(answers.Texts().value(0),
              QStringLiteral("The capture %1 is incomplete: %2 bytes left out: the file did not "
                             "take them in time")
                  .arg(capture)
                  .arg(sent - std::size_t(inPipe)));

    // A pipe whose reader goes away ends the recording, not the program, and says so.
    ASSERT_TRUE(monitor.StartRecording(capture));
    stalled.close();
    pty.Write(step);
    sent += step.size();
    ASSERT_TRUE(WaitUntil([&] { return answers.Done(); }));
    EXPECT_TRUE(answers.Texts()[1].startsWith(
        QStringLiteral("The capture %1 is incomplete: ").arg(capture)))
        << answers.Texts()[1].toStdString();
    EXPECT_TRUE(WaitUntil([&] { return port.Seen().size() == sent; }));
}

} // namespace
