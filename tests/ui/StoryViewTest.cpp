// History's "Story" view on the sample game's journal: the chart of the sample's story, and a
// real click on a score there opening History at that moment.
#include "CFieldDefinitions.h"
#include "CHistoryDlg.h"
#include "CStoryView.h"
#include "CTempCwd.h"
#include "CTtyrecRecord.h"
#include "CXdoTool.h"

#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <fstream>
#include <gtest/gtest.h>

namespace {

// The sample game at 9600 baud in records of 8 bytes, from 19:00:00 local time.
void WriteSampleJournal(const QString& folder) {
    QDir().mkpath(folder);
    std::ifstream in(TALLYVIEW_SAMPLE_CAPTURE, std::ios::binary);
    const std::string capture{std::istreambuf_iterator<char>(in), {}};
    const QDateTime start(QDate(2027, 3, 1), QTime(19, 0));
    std::string journal;
    for (std::size_t at = 0; at < capture.size(); at += 8) {
        const std::string_view chunk = std::string_view(capture).substr(at, 8);
        const auto sent = std::chrono::microseconds((at + chunk.size()) * 1'000'000 / 960);
        CTtyrecRecord::Encode(
            CTtyrecRecord::Time(std::chrono::milliseconds(start.toMSecsSinceEpoch())) + sent, chunk,
            journal);
    }
    std::ofstream(QDir(folder).filePath("2027-03-01_19-00-00.ttyrec").toStdString(),
                  std::ios::binary)
        << journal;
}

CFieldDefinitions SampleFields() {
    QFile file(QStringLiteral(TALLYVIEW_SAMPLE_FIELDS));
    file.open(QIODevice::ReadOnly);
    QString problem;
    return CFieldDefinitions::Parse(file.readAll(), &problem).value_or(CFieldDefinitions());
}

TEST(StoryView, ClickOnAScoreOpensHistoryThere) {
    if (!CXdoTool::Available())
        GTEST_SKIP() << "needs an X display and xdotool for real clicks";
    CTempCwd dir;
    WriteSampleJournal(dir.File(QStringLiteral("journal")));
    CHistoryDlg window(dir.File(QStringLiteral("journal")),
                       dir.File(QStringLiteral("Tallyview.cfg")), nullptr);
    window.SetFieldDefinitions(SampleFields());
    window.Open();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.Indexed(); }, 10000));
    ASSERT_TRUE(CXdoTool::Click(*window.Control(CHistoryDlg::IDC_STORY)));
    auto* view = qobject_cast<CStoryView*>(window.Control(CHistoryDlg::IDC_STORY_VIEW));
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->isVisible() && view->Chart(); }, 10000));

    // The sample's goals as the board shows them: 1-1 when the period begins, then 2-1, 3-1,
    // 3-2 and 3-3: no lead change, one tie.
    const CGameStory& story = view->Chart()->Story();
    std::vector<std::array<int, 2>> scores;
    for (const CGameStory::Score& score : story.m_scores)
        scores.push_back(score.m_points);
    EXPECT_EQ(scores, (std::vector<std::array<int, 2>>{{1, 1}, {2, 1}, {3, 1}, {3, 2}, {3, 3}}));
    EXPECT_EQ(story.m_leadChanges.size(), 0u);
    EXPECT_EQ(story.m_ties.size(), 1u);
    EXPECT_EQ(story.m_largestLead[CGameStory::kHome].m_points, 2);
    QFile svg(QDir(QStringLiteral(TALLYVIEW_TEST_OUTPUT)).filePath("story-sample.svg"));
    if (svg.open(QIODevice::WriteOnly))
        svg.write(view->Chart()->Svg());

    // The dot of the home side's second goal, found where the chart says it is.
    const CGameStory::Score& goal = story.m_scores[1];
    std::optional<QPoint> dot;
    for (int x = 0; x < view->width() && !dot; ++x)
        for (int y = 0; y < view->height() && !dot; ++y)
            if (const auto moment = view->Chart()->MomentAt(view->rect(), QPointF(x, y));
                moment && moment->m_record == goal.m_record)
                dot = QPoint(x, y);
    ASSERT_TRUE(dot);
    ASSERT_TRUE(CXdoTool::Click(*view, *dot));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.Record() == goal.m_record; }, 5000));
    auto* list = qobject_cast<QListWidget*>(window.Control(CHistoryDlg::IDC_LIST));
    EXPECT_TRUE(list->isVisible());
    EXPECT_FALSE(view->isVisible());
    EXPECT_TRUE(list->item(2)->text().startsWith(QStringLiteral(" HARBOR CITY GULLS   2")))
        << list->item(2)->text().toStdString();
}

} // namespace
