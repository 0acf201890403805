// The journal written by the real port from a pseudo-terminal, read back with the file format's
// own reader and with Debian's ttytime; faults on a real unwritable folder and a real full disk.
#include "CJournal.h"
#include "CJournalFolder.h"
#include "CJournalIndex.h"
#include "CJournalIndexFile.h"
#include "CJournalLiveFeed.h"
#include "CPortWindows.h"
#include "CScreenCommands.h"
#include "CTempCwd.h"
#include "CTnCommMonitor.h"
#include "CTtyrecReader.h"
#include "PortTestSupport.h"
#include "PtyPair.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <condition_variable>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <sys/mount.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using Time = CTtyrecRecord::Time;

std::vector<CTtyrecRecord> Records(const QString& path, std::string* note = nullptr) {
    std::ifstream in(QFile::encodeName(path).toStdString(), std::ios::binary);
    CTtyrecReader reader(in);
    std::vector<CTtyrecRecord> records;
    for (CTtyrecRecord r; reader.Next(r);)
        records.push_back(r);
    if (note)
        *note = reader.Note();
    return records;
}

std::string SampleGame() {
    QFile sample(QStringLiteral(TALLYVIEW_SAMPLE_CAPTURE));
    EXPECT_TRUE(sample.open(QIODevice::ReadOnly));
    return sample.readAll().toStdString();
}

// Local noon of a fixed day plus the time the test has run, plus what the test adds: a day
// goes by without waiting for midnight. While held, the journal's thread waits in its next look
// at the clock, as on a disk that hangs; the reader's thread never waits.
class CTestClock {
public:
    class CHold {
    public:
        explicit CHold(CTestClock& clock) : m_clock(clock) { m_clock.SetHeld(true); }
        ~CHold() { m_clock.SetHeld(false); }
        CHold(const CHold&) = delete;
        CHold& operator=(const CHold&) = delete;

    private:
        CTestClock& m_clock;
    };

    Time operator()() const {
        if (QThread::currentThread()->objectName() == QLatin1String("journal")) {
            std::unique_lock lock(m_holdMutex);
            m_waiting = m_held;
            m_released.wait(lock, [this] { return !m_held; });
            m_waiting = false;
        }
        return CJournalFolder::ToTime(QDateTime(QDate(2026, 3, 10), QTime(12, 0))) +
               std::chrono::duration_cast<std::chrono::microseconds>(
                   std::chrono::steady_clock::now() - m_start) +
               std::chrono::microseconds(m_added.load());
    }
    void Add(std::chrono::microseconds amount) { m_added += amount.count(); }
    bool JournalWaits() const {
        const std::lock_guard lock(m_holdMutex);
        return m_waiting;
    }

private:
    void SetHeld(bool held) {
        {
            const std::lock_guard lock(m_holdMutex);
            m_held = held;
        }
        m_released.notify_all();
    }

    mutable std::mutex m_holdMutex;
    mutable std::condition_variable m_released;
    bool m_held = false;
    mutable bool m_waiting = false;
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
    std::atomic<std::int64_t> m_added{0};
};

// A real port on a pseudo-terminal with a journal in the temporary folder.
class Journal : public ::testing::Test {
protected:
    void StartJournal(std::chrono::milliseconds retry = 5000ms,
                      qsizetype maxQueued = CJournal::kMaxQueued) {
        CJournal::Settings settings;
        settings.m_folder = Folder();
        settings.m_clock = [this] { return m_clock(); };
        settings.m_retry = retry;
        settings.m_maxQueued = maxQueued;
        m_port.AttachListener(std::make_unique<CJournal>(settings, m_port));
        // From its first moment it is writing or says why not: the relay logs it at once.
        EXPECT_NE(Status().m_file.isEmpty(), Status().m_reason.isEmpty())
            << Written().StateLine().toStdString();
        ASSERT_TRUE(m_port.OpenOn(QString::fromStdString(m_pty.SlavePath())));
    }
    QString Folder() const { return m_cwd.File(QStringLiteral("journal")); }
    // Sends the bytes and waits until the port and then the journal have them.
    void Send(const std::string& bytes) {
        m_sent += bytes;
        m_pty.Write(bytes);
        ASSERT_TRUE(WaitUntil([&] { return m_port.Seen().size() >= m_sent.size(); }));
        Written().WaitWritten();
    }
    ScreenState Live() {
        m_port.ProcessReceived();
        return StateOf(m_port);
    }
    CJournal& Written() const { return *m_port.FindListener<CJournal>(); }
    CJournal::Status Status() const { return Written().CurrentStatus(); }

    // Each problem stops the journal once, however often the retries fail; the line and the
    // live screen go on; once writing works again a new file begins with the exact live screen.
    void ExpectStopAndRecovery(const std::function<void()>& send,
                               const std::function<void()>& repair) {
        send();
        ASSERT_TRUE(WaitUntil([&] { return Status().m_file.isEmpty(); }));
        QThread::msleep(600); // several retries that fail again
        send();
        EXPECT_EQ(Status().m_problems, 1u);
        EXPECT_FALSE(Status().m_reason.isEmpty());
        repair();
        ASSERT_TRUE(WaitUntil([&] { return !Status().m_file.isEmpty(); }));
        send();
        EXPECT_EQ(Status().m_problems, 1u);
        EXPECT_EQ(FeedWhole(m_sent), Live());
        EXPECT_EQ(ReplayAlone(CJournalFolder(Folder()).Files().constLast()), Live());
    }

    CTempCwd m_cwd;
    PtyPair m_pty;
    CTestClock m_clock;
    CRecordingPort m_port;
    std::string m_sent;
};

TEST_F(Journal, RecordsAreTheLineBytesAndEachFileAloneGivesTheLiveScreenAcrossMidnight) {
    StartJournal();
    const std::string before = AllByteValues() + Esc("F2nd half") + AllByteValues() + Esc("F half");
    Send(before);
    const ScreenState atMidnight = Live();
    m_clock.Add(24h); // midnight passes in the middle of the status message
    Send(" of the message\r" + AllByteValues() + Esc("a12R"));
    const QStringList files = CJournalFolder(Folder()).Files();
    ASSERT_EQ(files.size(), 2);
    EXPECT_TRUE(files[0].endsWith(QLatin1String("2026-03-10_12-00-00.ttyrec")))
        << files[0].toStdString();
    EXPECT_TRUE(files[1].contains(QLatin1String("2026-03-11_"))) << files[1].toStdString();
    std::string journaled;
    for (const QString& file : files) {
        const auto records = Records(file);
        ASSERT_FALSE(records.empty());
        for (std::size_t i = 1; i < records.size(); ++i)
            journaled += records[i].m_data;
    }
    EXPECT_TRUE(journaled == m_sent);
    EXPECT_EQ(ReplayAlone(files[0]), atMidnight);
    EXPECT_EQ(ReplayAlone(files[1]), Live());
    EXPECT_EQ(atMidnight.pending, Esc("F half"));
}

// A network line that fell behind can hand over megabytes at once; the file stays readable.
TEST_F(Journal, AChunkLargerThanAReaderTakesIsWrittenAsSeveralRecords) {
    StartJournal();
    std::string huge(CTtyrecReader::kMaxLength + 12345, 'x');
    huge[CTtyrecReader::kMaxLength] = 'y';
    Written().Feed(QByteArrayView(huge.data(), qsizetype(huge.size())));
    Written().WaitWritten();
    std::string note;
    const auto records = Records(CJournalFolder(Folder()).Files().constLast(), &note);
    std::string journaled;
    for (std::size_t i = 1; i < records.size(); ++i)
        journaled += records[i].m_data;
    EXPECT_EQ(note, "");
    EXPECT_TRUE(journaled == huge);
}

// The bytes left out while the journal's thread hung are in no file, yet the file begun after
// them rebuilds the live screen on its own, and holds every byte from its screen on.
TEST_F(Journal, AfterItsInboxOverflowedTheNextFileAloneGivesTheLiveScreen) {
    constexpr qsizetype kInbox = 16 * 1024;
    StartJournal(100ms, kInbox);
    Send(Esc("F") + "before\r" + Esc("=") + "! kept");
    {
        const CTestClock::CHold hold(m_clock);
        ASSERT_TRUE(WaitUntil([&] { return m_clock.JournalWaits(); }));
        std::string missed;
        for (int row = 2; missed.size() <= 3 * std::size_t(kInbox); ++row)
            missed += At(row % 42, 0) + std::string(400, char('a' + row % 26));
        missed += Esc("F") + "missed\r" + Esc("f") + "half a label";
        m_sent += missed;
        m_pty.Write(missed);
        ASSERT_TRUE(WaitUntil([&] { return m_port.Seen().size() == m_sent.size(); }));
    }
    ASSERT_TRUE(WaitUntil([&] { return Status().m_problems == 1 && !Status().m_file.isEmpty(); }))
        << Written().StateLine().toStdString();
    const std::string after = " and after\r" + Esc("=") + "# after";
    Send(after);
    const QStringList files = CJournalFolder(Folder()).Files();
    ASSERT_EQ(files.size(), 2);
    EXPECT_EQ(ReplayAlone(files[1]), Live());
    const auto records = Records(files[1]);
    std::string journaled;
    for (std::size_t i = 1; i < records.size(); ++i)
        journaled += records[i].m_data;
    EXPECT_TRUE(journaled == after);
    EXPECT_EQ(Status().m_problems, 1u);
}

TEST_F(Journal, TtytimeReadsTheFileAndAgreesOnItsDuration) {
    StartJournal();
    Send("first");
    m_clock.Add(3h + 25s);
    Send("last");
    const QString file = CJournalFolder(Folder()).Files().constFirst();
    const auto records = Records(file);
    const auto seconds = [](const CTtyrecRecord& r) {
        return std::chrono::floor<std::chrono::seconds>(r.m_time).time_since_epoch().count();
    };
    QProcess ttytime;
    ttytime.start(QStringLiteral("ttytime"), {file});
    ASSERT_TRUE(ttytime.waitForFinished()) << "ttytime (Debian package ttyrec) is missing";
    const QStringList out = QString::fromLocal8Bit(ttytime.readAllStandardOutput())
                                .simplified()
                                .split(QLatin1Char(' '));
    ASSERT_FALSE(out.isEmpty());
    EXPECT_EQ(out.constFirst().toLongLong(), seconds(records.back()) - seconds(records.front()));
    EXPECT_GE(out.constFirst().toLongLong(), 3 * 3600 + 25);
}

// Each record holds the time its bytes came off the line, not the time the journal's thread
// took them (it takes every 200 ms): bursts written at known times, each a step further into
// that cycle, so that stamping at the take puts some of them over 150 ms late.
TEST_F(Journal, RecordsHoldTheTimeTheirBytesArrived) {
    StartJournal();
    const std::chrono::milliseconds step = CJournal::kWriteInterval + 25ms;
    std::vector<Time> writtenAt;
    std::vector<std::size_t> endsAt; // where each burst ends in m_sent
    for (int burst = 0; burst < 8; ++burst) {
        const auto next = std::chrono::steady_clock::now() + step;
        const std::string bytes = "burst " + std::to_string(burst) + "\r\n";
        writtenAt.push_back(m_clock());
        m_pty.Write(bytes);
        m_sent += bytes;
        endsAt.push_back(m_sent.size());
        ASSERT_TRUE(WaitUntil([&] { return m_port.Seen().size() >= m_sent.size(); }));
        std::this_thread::sleep_until(next);
    }
    Written().WaitWritten();
    const auto records = Records(CJournalFolder(Folder()).Files().constLast());
    std::size_t at = 0;
    std::size_t burst = 0;
    for (std::size_t i = 1; i < records.size(); ++i) {
        while (burst < endsAt.size() && at >= endsAt[burst])
            ++burst;
        ASSERT_LT(burst, writtenAt.size());
        const auto late = records[i].m_time - writtenAt[burst];
        EXPECT_GE(late, 0us) << "burst " << burst;
        EXPECT_LT(late, 150ms) << "burst " << burst << " is " << late.count() << " us late";
        at += records[i].m_data.size();
    }
    EXPECT_EQ(at, m_sent.size());
}

TEST_F(Journal, UnwritableFolderStopsTheJournalNotTheScreenAndWritingResumes) {
    QFile blocker(Folder()); // a file where the folder should be
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    StartJournal(100ms);
    m_port.ViewMonitor(1);
    const auto monitorSays = [this](const char* text) {
        return WaitUntil([&] {
            return CPortWindows::Instance().Monitor(m_port)->StateText().contains(
                QLatin1String(text));
        });
    };
    int round = 0;
    ExpectStopAndRecovery(
        [&] {
            ++round;
            Send(Esc("=") + char(32 + round) + " row" + std::to_string(round));
        },
        [&] {
            EXPECT_TRUE(monitorSays("Journal: stopped: the folder"));
            ASSERT_TRUE(QFile::remove(Folder()));
        });
    EXPECT_TRUE(monitorSays("Journal: writing to "));
}

TEST_F(Journal, FullDiskStopsTheJournalNotTheScreenAndWritingResumes) {
    if (geteuid() != 0)
        GTEST_SKIP() << "mounting a small tmpfs needs root";
    ASSERT_TRUE(QDir().mkpath(Folder()));
    const QByteArray folder = QFile::encodeName(Folder());
    if (mount("tallyview-test", folder.constData(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here";
    // All but a little room taken, so the journal begins and then meets the full disk.
    QFile filler(Folder() + QStringLiteral("/filler"));
    ASSERT_TRUE(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    while (filler.write(QByteArray(4096, 'f')) == 4096)
        ;
    filler.resize(filler.size() - 8192);
    filler.close();
    StartJournal(100ms);
    int round = 0;
    ExpectStopAndRecovery(
        [&] {
            Send(Esc("=") + char(32 + round % 42) + " " + std::string(20000, char('a' + round)));
            ++round;
        },
        [&] { ASSERT_TRUE(filler.remove()); });
    m_port.Close();
    m_port.TakeListeners([](const CLineListener& listener) { // its file closed before the disk goes
        return dynamic_cast<const CJournal*>(&listener) != nullptr;
    });
    umount2(folder.constData(), MNT_DETACH);
}

// History's index of the file being written, taken from the journal as it writes it, and also
// through a stretch while History was closed, equals one read back from the file: the same
// moments and screens, the same index file; the live moment it is handed is that moment's.
TEST_F(Journal, HistoryFedAsItWritesEqualsAReplayOfTheFile) {
    StartJournal();
    std::string game = SampleGame();
    game += game; // checkpoints within the file
    const std::filesystem::path folder = QFile::encodeName(Folder()).toStdString();
    const auto feed = CJournalLiveFeed::Of(folder);
    CJournalIndex live(folder, "2026-03-10_");
    std::size_t fed = 0;
    std::unique_ptr<CTerminalScreen> lastFed; // after the record numbered:
    std::uint64_t lastFedRecord = 0;
    const auto update = [&] {
        Written().WaitWritten();
        CJournalLiveFeed::Taken taken = feed->Take();
        fed += taken.m_records.size();
        bool inStep = false;
        live.Update(taken, inStep);
        EXPECT_TRUE(inStep);
        if (taken.m_screen) {
            lastFed = std::move(taken.m_screen);
            lastFedRecord = live.RecordCount() - 1;
        }
    };
    std::mt19937 random(29);
    std::size_t at = 0;
    for (int round = 0; at < game.size(); ++round) {
        feed->Want(round < 60 || round > 120); // closed for a while
        const std::size_t cut = std::uniform_int_distribution<std::size_t>(1, 4096)(random);
        Written().Feed(QByteArrayView(game)
                           .sliced(qsizetype(at))
                           .first(qsizetype(std::min(cut, game.size() - at))));
        at += cut;
        if (round % 7 == 0)
            update();
    }
    update();
    update();
    ASSERT_GT(fed, live.RecordCount() / 2) << "most records came from the journal";

    CJournalIndex replayed(folder, "2026-03-10_");
    replayed.Update();
    ASSERT_EQ(live.RecordCount(), replayed.RecordCount());
    for (std::uint64_t record = 0; record < live.RecordCount(); ++record) {
        const auto a = live.At(record);
        const auto b = replayed.At(record);
        ASSERT_TRUE(a && b);
        ASSERT_EQ(a->m_time, b->m_time) << record;
        ASSERT_TRUE(*a->m_screen == *b->m_screen) << record;
    }
    ASSERT_TRUE(lastFed);
    EXPECT_TRUE(*lastFed == *replayed.At(lastFedRecord)->m_screen) << "the live moment";
    const auto indexFile = [&](const CJournalIndex& index) {
        const std::filesystem::path path = CJournalIndexFile::PathOf(
            QFile::encodeName(CJournalFolder(Folder()).Files().constLast()).toStdString());
        std::filesystem::remove(path);
        index.Persist();
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    const std::string liveBytes = indexFile(live);
    EXPECT_FALSE(liveBytes.empty());
    EXPECT_TRUE(liveBytes == indexFile(replayed));
}

} // namespace
