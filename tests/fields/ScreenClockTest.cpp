// The screen's one drain and what it announces to the fields.
#include "CFieldsFeed.h"
#include "CScreenChanges.h"
#include "CScreenClock.h"
#include "PortTestSupport.h"
#include "ScreenTestSupport.h"

#include <QTest>
#include <gtest/gtest.h>

namespace {

// A burst of bytes is announced once to each reader, with all the burst changed; the feed's new
// value comes from that very announcement, not from a tick of its own, and an idle line is not
// looked at.
TEST(ScreenClock, ABurstIsDrainedOnceAndAnnouncedOnceToEveryReader) {
    CTerminalScreen screen;
    int looks = 0; // at whether the line may be drained
    CScreenClock clock(screen, [&] {
        ++looks;
        return true;
    });
    CScreenChanges& changes = clock.Changes();
    int heard = 0;
    const int reader = changes.Subscribe([&] { ++heard; });
    CFieldDefinitions definitions;
    definitions.m_fields.push_back({"score", 1, 1, 3, 1, {}});
    CFieldsFeed feed(changes);
    feed.SetDefinitions(definitions);
    int announced = 0;
    QObject::connect(&feed, &CFieldsFeed::Changed, [&] { ++announced; });
    feed.Take(&heard);
    ASSERT_TRUE(WaitUntil([&] { return announced == 1; })); // the definitions
    changes.Take(reader);
    QTest::qWait(3 * CFieldsFeed::kTickMs);
    const int heardBefore = heard;
    EXPECT_EQ(announced, 1);

    screen.ReceiveBytes(At(0, 0) + "12");
    screen.ReceiveBytes(At(2, 5) + "x");
    ASSERT_TRUE(WaitUntil([&] { return announced == 2; }));
    EXPECT_EQ(heard, heardBefore + 1);
    const CScreenChanges::Change change = changes.Take(reader);
    EXPECT_EQ(change.m_rows, 0b101u);
    EXPECT_TRUE(change.m_cursor);
    EXPECT_FALSE(change.m_messages || change.m_width);

    QTest::qWait(3 * CFieldsFeed::kTickMs);
    const int idle = looks;
    QTest::qWait(3 * CFieldsFeed::kTickMs);
    EXPECT_EQ(looks, idle);
    EXPECT_EQ(heard, heardBefore + 1);
    EXPECT_EQ(announced, 2);
    EXPECT_EQ(feed.Values().Field("score"), "12");
    feed.LetGo(&heard);
}

} // namespace
