// The History window on a known journal: seek, step, find and Copy, and opening it with real
// key presses while the main window runs modally.
#include "CHistoryDlg.h"
#include "CJournal.h"
#include "CJournalFolder.h"
#include "CModalAnswerer.h"
#include "CScreenText.h"
#include "CTtyrecPlayer.h"
#include "CTtyrecRecord.h"
#include "CXdoTool.h"
#include "ScreenTestSupport.h"
#include "UiTestSupport.h"

#include <QClipboard>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <fstream>

namespace {

const QDate kDay(2027, 3, 1);

// A short game, one change a second from 19:00:00; the comments give the moment's screen.
const std::vector<std::string> kChanges = {
    "\x1b+\x1b`;", // 0 blank
    "\x1b"
    "a1R1CHome 0  Away 0\x1b"
    "FPeriod 1\r", // 1
    "\x1b"
    "a3R1CShot", // 2
    "\x1b"
    "a1R6C1\x1b"
    "a5R1CGOAL Home\x1b"
    "fGoal!\r", // 3
    "\x1b+",    // 4 blank again
    "\x1b"
    "a2R1Cgoal again", // 5
};

// Adds the change to the journal as made `millis` milliseconds after 19:00:00.
void AppendChangeAt(const QString& folder, int millis, const std::string& change) {
    const QDateTime at(kDay, QTime(19, 0, 0).addMSecs(millis));
    std::string bytes;
    CTtyrecRecord::Encode(CTtyrecRecord::Time(std::chrono::milliseconds(at.toMSecsSinceEpoch())),
                          change, bytes);
    std::ofstream(QDir(folder).filePath("2027-03-01_19-00-00.ttyrec").toStdString(),
                  std::ios::binary | std::ios::app)
        << bytes;
}

void AppendChange(const QString& folder, int second, const std::string& change) {
    AppendChangeAt(folder, second * 1000, change);
}

void WriteJournal(const QString& folder) {
    QDir().mkpath(folder);
    for (std::size_t i = 0; i < kChanges.size(); ++i)
        AppendChange(folder, static_cast<int>(i), kChanges[i]);
}

QStringList ShownRows(const CHistoryDlg& window) {
    auto* list = qobject_cast<QListWidget*>(window.Control(CHistoryDlg::IDC_LIST));
    QStringList rows;
    for (int i = 0; i < list->count(); ++i)
        rows << list->item(i)->text().trimmed();
    return rows;
}

QString Text(const CHistoryDlg& window, int id) {
    return qobject_cast<QLabel*>(window.Control(id))->text();
}

class HistoryDlgTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteJournal(m_dir.File(QStringLiteral("journal")));
        m_window =
            std::make_unique<CHistoryDlg>(m_dir.File(QStringLiteral("journal")),
                                          m_dir.File(QStringLiteral("Tallyview.cfg")), nullptr);
        ASSERT_TRUE(QTest::qWaitFor([&] { return m_window->Indexed(); }, 5000));
    }
    void Click(int id) { qobject_cast<QPushButton*>(m_window->Control(id))->click(); }
    void Type(int id, const QString& text) {
        auto* edit = qobject_cast<QLineEdit*>(m_window->Control(id));
        edit->clear();
        QTest::keyClicks(edit, text);
        QTest::keyClick(edit, Qt::Key_Return);
    }

    CTempCwd m_dir;
    std::unique_ptr<CHistoryDlg> m_window;
};

TEST_F(HistoryDlgTest, SeeksAndStepsThroughTheChanges) {
    CHistoryDlg& window = *m_window;
    EXPECT_EQ(window.Record(), 5u) << "opens live, at the last change";
    EXPECT_EQ(ShownRows(window), QStringList({"", "goal again"}));

    Type(CHistoryDlg::IDC_TIME, QStringLiteral("19:00:03"));
    EXPECT_EQ(window.Record(), 3u);
    EXPECT_EQ(ShownRows(window), QStringList({"Home 1  Away 0", "", "Shot", "", "GOAL Home"}));
    EXPECT_EQ(Text(window, CHistoryDlg::IDC_STATUS), QStringLiteral("Period 1"));
    EXPECT_EQ(Text(window, CHistoryDlg::IDC_LABEL), QStringLiteral("Goal!"));
    EXPECT_EQ(Text(window, CHistoryDlg::IDC_CURSOR), QStringLiteral("005-010"));
    EXPECT_TRUE(Text(window, CHistoryDlg::IDC_MOMENT).startsWith(QStringLiteral("19:00:03.000")));

    const struct {
        int button;
        std::uint64_t record;
    } steps[] = {{CHistoryDlg::IDC_PREVIOUS, 2},
                 {CHistoryDlg::IDC_NEXT, 3},
                 {CHistoryDlg::IDC_NEXT, 4},
                 {CHistoryDlg::IDC_NEXT, 5},
                 {CHistoryDlg::IDC_LIVE, 5}};
    for (const auto& step : steps) {
        Click(step.button);
        EXPECT_EQ(window.Record(), step.record);
    }
    EXPECT_FALSE(window.Control(CHistoryDlg::IDC_NEXT)->isEnabled());

    // Before the first change: the first; between two: the earlier; no such time: a note.
    for (const auto& [typed, record] : {std::pair{"18:00:00", 0}, {"19:00:02", 2}}) {
        Type(CHistoryDlg::IDC_TIME, QString::fromLatin1(typed));
        EXPECT_EQ(window.Record(), static_cast<std::uint64_t>(record)) << typed;
    }
    EXPECT_FALSE(window.JumpTo(QStringLiteral("24:00:00")));
    EXPECT_EQ(window.Record(), 2u);
}

TEST_F(HistoryDlgTest, FindsTheTextAndCopiesTheMoment) {
    CHistoryDlg& window = *m_window;
    Type(CHistoryDlg::IDC_TIME, QStringLiteral("19:00:00"));
    Type(CHistoryDlg::IDC_FIND_TEXT, QStringLiteral("GOAL"));
    EXPECT_EQ(window.Record(), 3u);
    Click(CHistoryDlg::IDC_FIND_NEXT);
    EXPECT_EQ(window.Record(), 5u);
    Click(CHistoryDlg::IDC_FIND_NEXT);
    EXPECT_EQ(window.Record(), 5u) << "no later appearance";
    EXPECT_TRUE(Text(window, CHistoryDlg::IDC_NOTE).contains(QStringLiteral("does not appear")));
    Click(CHistoryDlg::IDC_FIND_PREVIOUS);
    ASSERT_EQ(window.Record(), 3u);

    // The moment's rows, not the live ones: a space, the row, CR LF.
    Click(CHistoryDlg::IDC_COPY);
    QString expected;
    for (const char* row : {"Home 1  Away 0", "", "Shot", "", "GOAL Home"})
        expected += QStringLiteral(" %1\r\n").arg(QLatin1String(row), -CTerminalScreen::kCols);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), expected);
}

// Live shows each change as the journal grows; a moment chosen stays until Live is pressed.
TEST_F(HistoryDlgTest, LiveFollowsTheGrowingJournal) {
    CHistoryDlg& window = *m_window;
    window.Open();
    const QString folder = m_dir.File(QStringLiteral("journal"));
    AppendChange(folder, 6,
                 "\x1b"
                 "a3R1CLATE");
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.Record() == 6u; }, 5 * CHistoryDlg::kFollowMs));
    EXPECT_EQ(ShownRows(window), QStringList({"", "goal again", "LATE"}));

    Click(CHistoryDlg::IDC_PREVIOUS);
    AppendChange(folder, 7, "\x1b+");
    const auto* timeline = qobject_cast<QSlider*>(window.Control(CHistoryDlg::IDC_TIMELINE));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return timeline->maximum() == 7; }, 5 * CHistoryDlg::kFollowMs));
    Click(CHistoryDlg::IDC_NEXT);
    EXPECT_EQ(window.Record(), 6u) << "a chosen moment is left alone";
    Click(CHistoryDlg::IDC_LIVE);
    EXPECT_EQ(window.Record(), 7u);
    EXPECT_EQ(ShownRows(window), QStringList());
}

// A day before the newest opens from the day list, and find searches it.
TEST_F(HistoryDlgTest, OpensAnEarlierDayAndFindsInIt) {
    std::string record;
    CTtyrecRecord::Encode(CJournalFolder::ToTime(QDateTime(kDay.addDays(1), QTime(9, 0))),
                          "\x1b+\x1b"
                          "a1R1Cnext day",
                          record);
    std::ofstream(m_dir.File(QStringLiteral("journal/2027-03-02_09-00-00.ttyrec")).toStdString(),
                  std::ios::binary)
        << record;
    CHistoryDlg window(m_dir.File(QStringLiteral("journal")), QString(), nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.Indexed(); }, 5000));
    EXPECT_EQ(ShownRows(window), QStringList({"next day"}));

    auto* days = qobject_cast<QComboBox*>(window.Control(CHistoryDlg::IDC_DAY));
    ASSERT_EQ(days->count(), 2);
    QTest::keyClick(days, Qt::Key_Down);
    EXPECT_EQ(window.Day(), kDay);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.Indexed(); }, 5000));
    EXPECT_EQ(window.Record(), 5u) << "opens at the day's last change";
    EXPECT_EQ(ShownRows(window), QStringList({"", "goal again"}));

    auto* time = qobject_cast<QLineEdit*>(window.Control(CHistoryDlg::IDC_TIME));
    QTest::keyClicks(time, QStringLiteral("19:00:01"));
    QTest::keyClick(time, Qt::Key_Return);
    auto* find = qobject_cast<QLineEdit*>(window.Control(CHistoryDlg::IDC_FIND_TEXT));
    QTest::keyClicks(find, QStringLiteral("goal"));
    QTest::keyClick(find, Qt::Key_Return);
    EXPECT_EQ(window.Record(), 3u);
}

// Previous and Next step to where the line fell quiet, Shift+click by one change: through the
// X server, whose pointer events carry the Shift that Qt reports.
TEST_F(HistoryDlgTest, StepsByMomentsAndByOneChangeWithShift) {
    if (!CXdoTool::Available())
        GTEST_SKIP() << "needs an X display and xdotool for real clicks";
    // Two bursts after the six changes, as the line brings them: a byte every 5 ms.
    const QString folder = m_dir.File(QStringLiteral("journal"));
    for (const auto& [start, text] : {std::pair{10000, "\x1b"
                                                       "a7R1CHOME 1"},
                                      {20000, "\x1b"
                                              "a8R1CAWAY 2"}}) {
        const std::string burst = text;
        AppendChangeAt(folder, start, burst.substr(0, 6)); // the address
        for (std::size_t i = 6; i < burst.size(); ++i)
            AppendChangeAt(folder, start + static_cast<int>(i) * 5, burst.substr(i, 1));
    } // records 6-12 and 13-19
    CHistoryDlg& window = *m_window;
    window.Open();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return window.Record() == 19u; }, 5 * CHistoryDlg::kFollowMs));

    const struct {
        int button;
        bool shift;
        std::uint64_t record;
    } steps[] = {{CHistoryDlg::IDC_PREVIOUS, false, 12}, {CHistoryDlg::IDC_NEXT, true, 13},
                 {CHistoryDlg::IDC_NEXT, false, 19},     {CHistoryDlg::IDC_PREVIOUS, true, 18},
                 {CHistoryDlg::IDC_PREVIOUS, false, 12}, {CHistoryDlg::IDC_PREVIOUS, false, 5}};
    int side = 4; // a point beside the last: the pointer must move for the click
    for (const auto& step : steps) {
        const QString shift = step.shift ? QStringLiteral("keydown") : QStringLiteral("keyup");
        ASSERT_TRUE(CXdoTool::Run({shift, QStringLiteral("shift")}));
        const QWidget& button = *window.Control(step.button);
        side = -side;
        ASSERT_TRUE(CXdoTool::Click(button, button.rect().center() + QPoint(side, 0)));
        EXPECT_TRUE(QTest::qWaitFor([&] { return window.Record() == step.record; }, 5000))
            << "shown " << window.Record().value_or(99) << ", expected " << step.record;
        if (step.record == 12)
            EXPECT_EQ(ShownRows(window).value(6), QStringLiteral("HOME 1")) << "the whole burst";
    }
    ASSERT_TRUE(CXdoTool::Run({QStringLiteral("keyup"), QStringLiteral("shift")}));

    // The keys of the focused button step alike: from 5 to the first burst's end, then into
    // the second by one change.
    window.Control(CHistoryDlg::IDC_NEXT)->setFocus();
    ASSERT_TRUE(CXdoTool::Key(window, QStringLiteral("space")));
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.Record() == 12u; }, 5000));
    for (const auto& [action, key] :
         {std::pair{"keydown", "shift"}, {"key", "space"}, {"keyup", "shift"}})
        ASSERT_TRUE(CXdoTool::Run({QString::fromLatin1(action), QString::fromLatin1(key)}));
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.Record() == 13u; }, 5000))
        << "Shift+Space: shown " << window.Record().value_or(99);
}

// The columns of the list's row drawn in the selection colour, as an interval.
std::pair<int, int> MarkedSpan(const QListWidget& list, int row) {
    const QImage shot = list.viewport()->grab().toImage();
    const QRect rect = list.visualItemRect(list.item(row)) & list.viewport()->rect();
    const QRgb marked = list.palette().color(QPalette::Active, QPalette::Highlight).rgb();
    std::pair<int, int> span{INT_MAX, -1};
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x)
            if (shot.pixel(x * shot.width() / list.viewport()->width(),
                           y * shot.height() / list.viewport()->height()) == marked)
                span = {std::min(span.first, x), std::max(span.second, x)};
    return span;
}

// Find marks the text where it appeared, and scrolls a small window down and across to it; the mark
// goes with the moment or the text.
TEST_F(HistoryDlgTest, FindMarksTheTextAndScrollsToIt) {
    const QString folder = m_dir.File(QStringLiteral("journal"));
    AppendChange(folder, 10,
                 "\x1b"
                 "a40R111CTEAM GOALS 3"); // 6
    AppendChange(folder, 11,
                 "\x1b"
                 "a1R1CX"); // 7
    CHistoryDlg& window = *m_window;
    auto* list = qobject_cast<QListWidget*>(window.Control(CHistoryDlg::IDC_LIST));
    window.resize(window.minimumSizeHint().width(), 300);
    window.Open();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.Record() == 7u; }, 5 * CHistoryDlg::kFollowMs));
    Type(CHistoryDlg::IDC_TIME, QStringLiteral("19:00:04"));
    Type(CHistoryDlg::IDC_FIND_TEXT, QStringLiteral("goals"));
    ASSERT_EQ(window.Record(), 6u);

    const int found = 39;
    const QString row = list->item(found)->text();
    const int col = static_cast<int>(row.indexOf(QStringLiteral("GOALS")));
    const QFontMetrics metrics(list->font());
    ASSERT_GT(metrics.horizontalAdvance(row.left(col + 4)), list->viewport()->width())
        << "the text lies beyond the window's width";
    QTest::qWait(50); // painted
    const QRect shown = list->visualItemRect(list->item(found));
    EXPECT_TRUE(shown.top() >= 0 && shown.bottom() < list->viewport()->height())
        << "row " << found << " scrolled into view";
    const auto [left, right] = MarkedSpan(*list, found);
    const int itemLeft = shown.left();
    // Within the style's margin before the text, and exactly the found letters wide.
    EXPECT_GE(left - itemLeft, metrics.horizontalAdvance(row.left(col)));
    EXPECT_LT(left - itemLeft, metrics.horizontalAdvance(row.left(col + 1)));
    EXPECT_NEAR(right + 1 - left, metrics.horizontalAdvance(QStringLiteral("GOALS")), 1);

    const auto marked = [&] {
        QTest::qWait(50);
        return MarkedSpan(*list, found).second >= 0;
    };
    Click(CHistoryDlg::IDC_NEXT);
    ASSERT_EQ(window.Record(), 7u);
    EXPECT_FALSE(marked()) << "another moment";
    Click(CHistoryDlg::IDC_FIND_PREVIOUS);
    ASSERT_EQ(window.Record(), 6u);
    EXPECT_TRUE(marked());
    QTest::keyClick(window.Control(CHistoryDlg::IDC_FIND_TEXT), Qt::Key_Backspace);
    EXPECT_FALSE(marked()) << "another text";
}

// Real key presses through the X server, which Qt's modality rules apply to.
class HistoryModalityTest : public DialogTest {};

TEST_F(HistoryModalityTest, UsableWhileTheMainWindowRunsModally) {
    if (!CXdoTool::Available())
        GTEST_SKIP() << "needs an X display and xdotool for real key presses";
    WriteSettings();
    WriteJournal(m_dir.File(QStringLiteral("journal")));
    CTerminalDlg& dialog = Dialog();
    CHistoryDlg& history = dialog.History();
    bool typedIntoHistory = false;
    CModalAnswerer::RunModally(dialog, [&] {
        ASSERT_TRUE(QTest::qWaitFor([&] { return history.Indexed(); }, 5000));
        CXdoTool::Key(dialog, QStringLiteral("ctrl+h"));
        ASSERT_TRUE(QTest::qWaitFor([&] { return history.isVisible(); }, 5000));
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&history));
        history.Control(CHistoryDlg::IDC_TIME)->setFocus();
        CXdoTool::Run(
            {QStringLiteral("windowfocus"), QStringLiteral("--sync"), CXdoTool::WindowId(history)});
        CXdoTool::Run({QStringLiteral("type"), QStringLiteral("19:00:02")});
        CXdoTool::Run({QStringLiteral("key"), QStringLiteral("Return")});
        typedIntoHistory = QTest::qWaitFor([&] { return history.Record() == 2u; }, 5000);
        CXdoTool::Key(dialog, QStringLiteral("Escape"));
    });
    EXPECT_TRUE(typedIntoHistory) << "record shown: " << history.Record().value_or(99);
}

// The window's History reads the journal where it is written, wherever the settings put it.
class HistoryFolderTest : public DialogTest {};

TEST_F(HistoryFolderTest, ReadsTheJournalFolderTheSettingsName) {
    const QString folder = m_dir.File(QStringLiteral("elsewhere"));
    ASSERT_TRUE(QDir().mkpath(folder));
    std::string record;
    const QDateTime before = QDateTime::currentDateTime().addSecs(-60);
    CTtyrecRecord::Encode(CJournalFolder::ToTime(before),
                          "\x1b+\x1b"
                          "a1R1CHOME 3 AWAY 1",
                          record);
    std::ofstream(CJournalFolder(folder).NewFile(before).toStdString(), std::ios::binary) << record;
    WriteSettings({{QStringLiteral("journal_folder"), folder}});
    CHistoryDlg& history = Dialog().History();
    ASSERT_TRUE(QTest::qWaitFor([&] { return history.Indexed(); }, 5000));
    history.ShowRecord(0);
    ASSERT_FALSE(history.Lines().empty());
    EXPECT_EQ(history.Lines().front().substr(0, 13), "HOME 3 AWAY 1");
}

// Shown, the window follows the file the journal writes from what the journal hands over,
// interpreting none of it again: each moment shown live is the file's last, as a replay of the
// file gives it.
TEST(HistoryLiveTest, FollowsTheJournalWithoutInterpretingItAgain) {
    CTempCwd dir;
    const QString folder = dir.File(QStringLiteral("journal"));
    CTerminalScreen line;
    CJournal::Settings settings;
    settings.m_folder = folder;
    CJournal journal(settings, line);
    CHistoryDlg window(folder, dir.File(QStringLiteral("Tallyview.cfg")), nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.Indexed(); }, 5000));
    window.Open();
    journal.WaitWritten();     // it begins handing records over
    std::uint64_t records = 1; // the file's first, the screen it began with
    for (int round = 0; round < 3; ++round) {
        const std::uint64_t interpreted = CTerminalScreen::InterpretedBytes();
        std::size_t fed = 0;
        for (std::size_t i = 0; i < kChanges.size(); ++i, ++records) {
            const std::string chunk = kChanges[i] + Esc("a") + std::to_string(round + 2) + "R" +
                                      std::to_string(i + 1) + "Cround " + std::to_string(round);
            journal.Feed(QByteArrayView(chunk));
            fed += chunk.size();
        }
        journal.WaitWritten();
        ASSERT_TRUE(QTest::qWaitFor([&] { return window.Record() == records - 1; },
                                    5 * CHistoryDlg::kFollowMs));
        EXPECT_EQ(CTerminalScreen::InterpretedBytes() - interpreted, fed)
            << "the journal's screen alone interpreted them";
        CTerminalScreen replayed;
        std::ifstream in(
            QFile::encodeName(CJournalFolder(folder).Files().constLast()).toStdString(),
            std::ios::binary);
        CTtyrecPlayer::Play(in, replayed);
        std::vector<std::string> rows = replayed.Rows();
        rows.resize(CScreenText::ShownRowCount(rows));
        EXPECT_EQ(window.Lines(), rows) << "round " << round;
    }
}

} // namespace
