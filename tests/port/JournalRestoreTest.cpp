// Restore at start-up and retention on real journal folders; a real program killed mid-feed.
#include "CJournal.h"
#include "CJournalFolder.h"
#include "CJournalIndex.h"
#include "CStation.h"
#include "CTempCwd.h"
#include "PortTestSupport.h"
#include "PtyPair.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <QTimeZone>
#include <atomic>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>

namespace {

using namespace std::chrono_literals;

void WriteFile(const QString& path, const std::string& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(bytes.data(), qint64(bytes.size())), qint64(bytes.size()));
}

// A journal file begun `hoursAgo` before now; its records come a minute apart.
std::string Records(double hoursAgo, const std::vector<std::string>& chunks) {
    const auto start = CJournalFolder::ToTime(QDateTime::currentDateTime()) -
                       std::chrono::microseconds(static_cast<long long>(hoursAgo * 3.6e9));
    std::string file;
    for (std::size_t i = 0; i < chunks.size(); ++i)
        CTtyrecRecord::Encode(start + std::chrono::minutes(i), chunks[i], file);
    return file;
}

struct RestoreCase {
    const char* m_name;
    std::string m_file; // written as the newest journal file; "-" for no journal folder at all
    bool m_restored;
};

void PrintTo(const RestoreCase& c, std::ostream* out) {
    *out << c.m_name;
}

const std::string kBoard = "\x1b`;\x1b"
                           "a3R5CGULLS 3\x1b"
                           "FPERIOD 2\r\x1b"
                           "a1";

class Restore : public ::testing::TestWithParam<RestoreCase> {};

TEST_P(Restore, RebuildsARecentScreenAndTheNewFileBeginsFromIt) {
    const RestoreCase& c = GetParam();
    CTempCwd cwd;
    const QString folder = cwd.File(QStringLiteral("journal"));
    if (c.m_file != "-") {
        ASSERT_TRUE(QDir().mkpath(folder));
        WriteFile(CJournalFolder(folder).NewFile(QDateTime::currentDateTime().addSecs(-7200)),
                  c.m_file);
    }
    CStation station;
    const CTerminalPort& port = station.Port();
    station.Load(); // no settings file: the port stays closed, the journal starts
    ASSERT_NE(station.Journal(), nullptr);
    station.Journal()->WaitWritten();
    EXPECT_EQ(station.RestoredFrom().isValid(), c.m_restored);
    if (c.m_restored)
        EXPECT_LT(station.RestoredFrom().secsTo(QDateTime::currentDateTime()), 2 * 3600);
    const ScreenState expected = FeedWhole(c.m_restored ? kBoard : "");
    EXPECT_EQ(StateOf(port), expected);
    EXPECT_EQ(ReplayAlone(CJournalFolder(folder).Files().constLast()), expected);
}

INSTANTIATE_TEST_SUITE_P(
    StartUp, Restore,
    ::testing::Values(
        RestoreCase{"NoJournal", "-", false}, RestoreCase{"EmptyFile", "", false},
        RestoreCase{"TornFirstRecord", Records(1, {kBoard}).substr(0, 7), false},
        RestoreCase{"TooOld", Records(12.5, {kBoard}), false},
        RestoreCase{"Recent", Records(1, {kBoard.substr(0, 9), kBoard.substr(9)}), true},
        RestoreCase{"TornLastRecord",
                    Records(1, {kBoard, "lost"}).substr(0, kBoard.size() + 12 + 13), true}),
    [](const auto& info) { return std::string(info.param.m_name); });

// A file as the journal writes it: its first record is the screen, its last a chunk of the line.
struct ChoiceFile {
    const char* m_name; // nullptr: named from the local time it was begun, as the journal does
    int m_begun;        // minutes before kChoiceNow
    int m_ended;
    const char* m_text;
};

struct ChoiceCase {
    const char* m_name;
    std::vector<ChoiceFile> m_files;
    const char* m_restored; // the text of the file whose screen comes back
};

void PrintTo(const ChoiceCase& c, std::ostream* out) {
    *out << c.m_name;
}

// 70 minutes after the clocks went back an hour in Berlin.
const QDateTime kChoiceNow =
    QDateTime(QDate(2024, 10, 27), QTime(3, 10), QTimeZone("Europe/Berlin"));
const std::string kChunk = "\x1b"
                           "a1R1C";

std::string Board(const char* text) {
    return std::string("\x1b+\x1b") + "a3R5C" + text;
}

CTtyrecRecord::Time Before(int minutes) {
    return CJournalFolder::ToTime(kChoiceNow.addSecs(-60 * minutes));
}

ScreenState Expected(const char* text) {
    return FeedWhole(Board(text) + kChunk);
}

class Choice : public ::testing::TestWithParam<ChoiceCase> {};

// History's last moment is the restored screen: both go by the journal's own clock.
TEST_P(Choice, RestoreAndHistoryTakeTheNewestRecordNotTheLatestName) {
    const ChoiceCase& c = GetParam();
    CTempCwd cwd;
    const CJournalFolder folder(cwd.Path());
    for (const ChoiceFile& f : c.m_files) {
        std::string bytes;
        CTtyrecRecord::Encode(Before(f.m_begun), Board(f.m_text), bytes);
        CTtyrecRecord::Encode(Before(f.m_ended), kChunk, bytes);
        WriteFile(f.m_name ? cwd.File(QLatin1String(f.m_name))
                           : folder.NewFile(kChoiceNow.addSecs(-60 * f.m_begun)),
                  bytes);
    }
    CTerminalScreen restored;
    EXPECT_TRUE(folder.Restore(restored, 12, kChoiceNow).isValid());
    EXPECT_EQ(StateOf(restored), Expected(c.m_restored));

    const std::string day = CJournalIndex::NewestDay(cwd.Path().toStdString());
    ASSERT_EQ(day, "2024-10-27");
    CJournalIndex history(cwd.Path().toStdString(), day + "_");
    history.Update();
    ASSERT_GT(history.RecordCount(), 0u);
    std::optional<CJournalIndex::Moment> last = history.At(history.RecordCount() - 1);
    ASSERT_TRUE(last);
    last->m_screen->ProcessReceived();
    EXPECT_EQ(StateOf(*last->m_screen), Expected(c.m_restored));
}

INSTANTIATE_TEST_SUITE_P(Newest, Choice,
                         ::testing::Values(
                             // Named 02:45 (summer time) and 02:30 (winter time, 45 minutes later).
                             ChoiceCase{"ClocksGoBack",
                                        {{nullptr, 85, 65, "EARLIER"}, {nullptr, 40, 20, "LATER"}},
                                        "LATER"},
                             ChoiceCase{"ForeignFilesSortingLater",
                                        {{nullptr, 40, 20, "OURS"},
                                         {"2024-10-27_zzz.ttyrec", 30, 1, "FOREIGN"},
                                         {"zzz.ttyrec", 30, 1, "FOREIGN"}},
                                        "OURS"}),
                         [](const auto& info) { return std::string(info.param.m_name); });

struct PruneCase {
    const char* m_name;
    std::vector<int> m_ageDays; // one file each, oldest first, 1000 bytes
    int m_days;
    qint64 m_maxBytes;
    std::vector<int> m_kept; // indexes into m_ageDays
};

void PrintTo(const PruneCase& c, std::ostream* out) {
    *out << c.m_name;
}

class Retention : public ::testing::TestWithParam<PruneCase> {};

TEST_P(Retention, DeletesOldFilesAndTheOldestBeyondTheTotal) {
    const PruneCase& c = GetParam();
    CTempCwd cwd;
    const CJournalFolder folder(cwd.Path());
    const QDateTime now = QDateTime::currentDateTime();
    QStringList paths;
    for (const int age : c.m_ageDays) {
        const QDateTime start = now.addDays(-age).addSecs(paths.size());
        paths << folder.NewFile(start);
        WriteFile(paths.back(), std::string(1000, 'x'));
        QFile file(paths.back());
        ASSERT_TRUE(file.open(QIODevice::Append));
        ASSERT_TRUE(file.setFileTime(start.addSecs(3600), QFileDevice::FileModificationTime));
    }
    // History's index beside each file, and one whose journal file was deleted by hand.
    const auto indexOf = [](const QString& path) { return path + QStringLiteral(".index"); };
    for (const QString& path : paths + QStringList{folder.NewFile(now.addDays(-1))})
        WriteFile(indexOf(path), std::string(10, 'i'));
    folder.Prune(c.m_days, c.m_maxBytes, now, paths.constLast());
    QStringList kept;
    for (const int i : c.m_kept)
        kept << paths[i];
    EXPECT_EQ(folder.Files(), kept);
    QStringList indexes = QDir(cwd.Path()).entryList({QStringLiteral("*.index")}, QDir::Files);
    for (QString& name : indexes)
        name = QDir(cwd.Path()).filePath(name.chopped(6));
    EXPECT_EQ(indexes, kept);
}

INSTANTIATE_TEST_SUITE_P(
    Limits, Retention,
    ::testing::Values(PruneCase{"Days", {40, 31, 29, 1, 0}, 30, 1 << 30, {2, 3, 4}},
                      PruneCase{"Total", {5, 4, 3, 2, 0}, 30, 2500, {3, 4}},
                      PruneCase{"Both", {50, 4, 3, 2, 0}, 30, 3500, {2, 3, 4}},
                      PruneCase{"CurrentFileStays", {3, 0}, 30, 10, {1}}),
    [](const auto& info) { return std::string(info.param.m_name); });

// The journal's keys as the settings file gives them, at a start with files already there.
struct KeysCase {
    const char* m_name;
    QList<QPair<QString, QString>> m_keys;
    std::vector<int> m_ageHours; // a journal file each, 400 KB ending then, oldest first
    std::vector<int> m_kept;     // indexes into m_ageHours
    bool m_journal;
    bool m_restored;
};

void PrintTo(const KeysCase& c, std::ostream* out) {
    *out << c.m_name;
}

class JournalKeys : public ::testing::TestWithParam<KeysCase> {};

TEST_P(JournalKeys, AreReadFromTheSettingsFileAndPruneAtStartUp) {
    const KeysCase& c = GetParam();
    CTempCwd cwd;
    const CJournalFolder folder(cwd.File(QStringLiteral("journal")));
    ASSERT_TRUE(QDir().mkpath(cwd.File(QStringLiteral("journal"))));
    QStringList paths;
    for (const int age : c.m_ageHours) {
        const QDateTime end = QDateTime::currentDateTime().addSecs(-3600 * age);
        std::string bytes;
        CTtyrecRecord::Encode(CJournalFolder::ToTime(end), kBoard, bytes);
        while (bytes.size() < 400 * 1024)
            CTtyrecRecord::Encode(CJournalFolder::ToTime(end), std::string(4096, 'x'), bytes);
        paths << folder.NewFile(end.addSecs(-60));
        WriteFile(paths.back(), bytes);
        QFile file(paths.back());
        ASSERT_TRUE(file.open(QIODevice::Append));
        ASSERT_TRUE(file.setFileTime(end, QFileDevice::FileModificationTime));
    }
    PtyPair pty;
    ASSERT_TRUE(WriteSettingsFile(cwd.File(QStringLiteral("Tallyview.cfg")),
                                  QString::fromStdString(pty.SlavePath()), c.m_keys));

    CStation station(cwd.File(QStringLiteral("Tallyview.cfg")));
    EXPECT_EQ(station.Load(), QString());
    ASSERT_EQ(station.Journal() != nullptr, c.m_journal);
    if (c.m_journal)
        station.Journal()->WaitWritten();
    EXPECT_EQ(station.RestoredFrom().isValid(), c.m_restored);
    QStringList kept;
    for (const int i : c.m_kept)
        kept << paths[i];
    const QStringList files = folder.Files();
    EXPECT_EQ(files.mid(0, kept.size()), kept);
    EXPECT_EQ(files.size(), kept.size() + (c.m_journal ? 1 : 0));
}

INSTANTIATE_TEST_SUITE_P(
    Settings, JournalKeys,
    ::testing::Values(
        KeysCase{"Defaults", {}, {24 * 31, 24 * 29, 11}, {1, 2}, true, true},
        KeysCase{"Off", {{"journal", "off"}}, {24 * 40, 1}, {0, 1}, false, false},
        KeysCase{"Days", {{"journal_days", "2"}}, {24 * 3, 24 * 1}, {1}, true, false},
        KeysCase{"MaxMb", {{"journal_max_mb", "1"}}, {72, 48, 24}, {1, 2}, true, false},
        KeysCase{"RestoreHoursShort", {{"restore_hours", "1"}}, {2}, {0}, true, false},
        KeysCase{"RestoreHoursLong", {{"restore_hours", "30"}}, {24}, {0}, true, true}),
    [](const auto& info) { return std::string(info.param.m_name); });

// The real program on a pseudo-terminal, killed while the line is sending: the screen restored
// at the next start is the screen of everything it got up to some moment, at least all it had
// half a second before the kill.
TEST(JournalKill, RestoredScreenIsTheScreenBeforeTheKill) {
    CTempCwd cwd;
    PtyPair pty;
    WriteFile(cwd.File(QStringLiteral("Tallyview.cfg")),
              "Tallyview port settings 1\ndevice=" + pty.SlavePath() +
                  "\nbaud=115200\ndatabits=8\nparity=none\nstopbits=1\nflow=none\n");
    QFile sample(QStringLiteral(TALLYVIEW_SAMPLE_CAPTURE));
    ASSERT_TRUE(sample.open(QIODevice::ReadOnly));
    const std::string game = sample.read(120000).toStdString();
    const std::size_t surely = 40000; // sent at once, a second before the kill

    QProcess program;
    program.setWorkingDirectory(cwd.Path());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(TALLYVIEW_PROGRAM), {});
    ASSERT_TRUE(program.waitForStarted());
    // Bytes sent before the program has the device open would be flushed by the open.
    const QString device = QString::fromStdString(pty.SlavePath());
    ASSERT_TRUE(WaitUntil([&] {
        const QDir fds(QStringLiteral("/proc/%1/fd").arg(program.processId()));
        for (const QFileInfo& fd : fds.entryInfoList(QDir::Files | QDir::System))
            if (fd.symLinkTarget() == device)
                return true;
        return false;
    }));
    pty.Write(std::string_view(game).substr(0, surely));
    std::atomic<bool> stop{false};
    std::thread trickle([&] { // the line goes on in small chunks until the kill
        for (std::size_t at = surely; at < game.size() && !stop; at += 64) {
            pty.Write(std::string_view(game).substr(at, 64));
            std::this_thread::sleep_for(2ms);
        }
    });
    QThread::msleep(1000);
    program.kill();
    program.waitForFinished();
    stop = true;
    trickle.join();

    // Without the settings the port stays closed: what the line still holds stays out.
    ASSERT_TRUE(QFile::remove(cwd.File(QStringLiteral("Tallyview.cfg"))));
    CStation station;
    const CTerminalPort& restored = station.Port();
    station.Load();
    ASSERT_TRUE(station.RestoredFrom().isValid());
    const ScreenState after = StateOf(restored);
    CTerminalScreen live;
    live.ReceiveBytes(std::string_view(game).substr(0, surely));
    live.ProcessReceived();
    std::size_t matched = StateOf(live) == after ? surely : 0;
    for (std::size_t at = surely; at < game.size() && matched == 0; ++at) {
        live.ReceiveBytes(std::string_view(game).substr(at, 1));
        live.ProcessReceived();
        if (StateOf(live) == after)
            matched = at + 1;
    }
    EXPECT_GE(matched, surely) << "the restored screen is no screen the line produced";
    // The killed program left its lock on the device; opening and closing it here clears the
    // stale lock, which an unprivileged test given the same device later could not.
    CRecordingPort clearing;
    EXPECT_TRUE(clearing.OpenOn(device));
}

} // namespace
