// The display rules the window and the replay tool share.
#include "CScreenText.h"

#include <gtest/gtest.h>

namespace {

using namespace std::string_literals;

struct RowCase {
    std::string row;
    bool blank;
};

TEST(ScreenText, BlankRows) {
    const RowCase cases[] = {
        {std::string(132, ' '), true},
        {" \t\n\v\f\r", true},
        {"   \0ABC"s, true}, // only what comes before the NUL counts
        {"\0   "s, false},   // a row that starts with NUL shows as an empty line, and stays
        {"   x  ", false},
        {"\x01", false},
        {"\xa0", false}, // no-break space in Latin-1 is not white space here
    };
    for (const RowCase& c : cases)
        EXPECT_EQ(CScreenText::IsBlankRow(c.row), c.blank) << testing::PrintToString(c.row);
}

TEST(ScreenText, OnlyTrailingBlankRowsAreDropped) {
    std::vector<std::string> rows(42, std::string(132, ' '));
    EXPECT_EQ(CScreenText::ShownRowCount(rows), 0u);
    rows[5][3] = 'x';
    EXPECT_EQ(CScreenText::ShownRowCount(rows), 6u);
    rows[41][0] = '\0';
    EXPECT_EQ(CScreenText::ShownRowCount(rows), 42u);
}

TEST(ScreenText, ShownTextAndCursorField) {
    EXPECT_EQ(CScreenText::UpToNul("AB\0CD"s), "AB");
    EXPECT_EQ(CScreenText::UpToNul("ABCD"), "ABCD");
    EXPECT_EQ(CScreenText::CursorText(0, 0), "001-001");
    EXPECT_EQ(CScreenText::CursorText(41, 131), "042-132");
    EXPECT_EQ(CScreenText::CursorText(11, 39), "012-040");
}

} // namespace
