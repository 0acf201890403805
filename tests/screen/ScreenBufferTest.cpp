#include "ScreenTestSupport.h"

#include <gtest/gtest.h>

namespace {

const std::string kBlankRow(CTerminalScreen::kCols, ' ');

TEST(ScreenBuffer, FreshScreenIsBlankWithCursorHomeAndNarrowWidth) {
    CTerminalScreen s;
    ASSERT_EQ(s.Rows().size(), 42u);
    for (const std::string& row : s.Rows())
        EXPECT_EQ(row, kBlankRow);
    EXPECT_EQ(s.Row(), 0);
    EXPECT_EQ(s.Col(), 0);
    EXPECT_FALSE(s.Wide());
    EXPECT_EQ(s.StatusText(), "");
    EXPECT_EQ(s.LabelText(), "");
    EXPECT_EQ(s.ProcessReceived(), 0);
    EXPECT_EQ(StateOf(s), StateOf(CTerminalScreen()));
}

struct WrapCase {
    const char* name;
    bool wide;
    int row, col;         // where the byte is written
    int wantRow, wantCol; // cursor afterwards
};

class Wrap : public ::testing::TestWithParam<WrapCase> {};

TEST_P(Wrap, CursorAfterOneByte) {
    const WrapCase& c = GetParam();
    CTerminalScreen s;
    std::string feed = c.wide ? Esc("`;") : "";
    feed += Esc("a") + std::to_string(c.row + 1) + "R" + std::to_string(c.col + 1) + "C" + "#";
    Receive(s, feed);
    s.ProcessReceived();
    EXPECT_EQ(s.Rows()[c.row][c.col], '#');
    EXPECT_EQ(s.Row(), c.wantRow);
    EXPECT_EQ(s.Col(), c.wantCol);
}

INSTANTIATE_TEST_SUITE_P(ScreenBuffer, Wrap,
                         ::testing::Values(WrapCase{"NarrowLastColumn", false, 3, 79, 4, 0},
                                           WrapCase{"NarrowBottomRight", false, 41, 79, 0, 0},
                                           WrapCase{"NarrowMiddle", false, 3, 40, 3, 41},
                                           WrapCase{"WideLastColumn", true, 3, 131, 4, 0},
                                           WrapCase{"WideBottomRight", true, 41, 131, 0, 0},
                                           WrapCase{"WidePastNarrowEdge", true, 3, 100, 3, 101}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ScreenBuffer, ClearScreenKeepsCursorWidthAndMessages) {
    CTerminalScreen s;
    Receive(s, Esc("`;") + Esc("F status\r") + Esc("a11R21C") + "text" + Esc("+"));
    s.ProcessReceived();
    for (const std::string& row : s.Rows())
        EXPECT_EQ(row, kBlankRow);
    EXPECT_EQ(s.Row(), 10);
    EXPECT_EQ(s.Col(), 24);
    EXPECT_TRUE(s.Wide());
    EXPECT_EQ(s.StatusText(), "status");
}

struct ClearLineCase {
    int col;
    std::size_t keptPrefix; // bytes of the row before the cursor that survive
};

class ClearToEndOfLine : public ::testing::TestWithParam<ClearLineCase> {};

TEST_P(ClearToEndOfLine, BlanksFromCursorToColumn131InEitherWidth) {
    const std::string full(CTerminalScreen::kCols, 'x');
    CTerminalScreen s;
    // Fill row 2 entirely in wide mode, then clear from the cursor in narrow mode.
    Receive(s, Esc("`;") + Esc("a3R1C") + full + Esc("`:") + Esc("a3R") +
                   std::to_string(GetParam().col + 1) + "C" + Esc("T"));
    s.ProcessReceived();
    const std::string& row = s.Rows()[2];
    EXPECT_EQ(row, full.substr(0, GetParam().keptPrefix) +
                       std::string(CTerminalScreen::kCols - GetParam().keptPrefix, ' '));
    EXPECT_EQ(s.Col(), GetParam().col);
}

INSTANTIATE_TEST_SUITE_P(ScreenBuffer, ClearToEndOfLine,
                         ::testing::Values(ClearLineCase{0, 0}, ClearLineCase{40, 40},
                                           ClearLineCase{79, 79}));

TEST(ScreenBuffer, ClearToEndOfLineAtLastColumnBlanksOnlyThatByte) {
    CTerminalScreen s;
    Receive(s, Esc("`;") + Esc("a1R1C") + std::string(131, 'x') + Esc("T"));
    s.ProcessReceived();
    EXPECT_EQ(s.Col(), 131);
    EXPECT_EQ(s.Rows()[0], std::string(131, 'x') + " ");
}

TEST(ScreenBuffer, WideColumnsSurviveSwitchToNarrow) {
    CTerminalScreen s;
    Receive(s, Esc("`;") + Esc("a1R81C") + "WIDE" + Esc("`:"));
    s.ProcessReceived();
    EXPECT_EQ(s.Rows()[0].substr(80, 4), "WIDE");
    EXPECT_FALSE(s.Wide());
    // Column 84 is past the narrow edge, so the switch wrapped the cursor at once.
    EXPECT_EQ(s.Row(), 1);
    EXPECT_EQ(s.Col(), 0);
}

TEST(ScreenBuffer, EveryNonEscapeByteIsStoredAsACharacter) {
    std::string all = AllByteValues();
    all.erase(CTerminalScreen::kEsc, 1);
    CTerminalScreen s;
    Receive(s, Esc("`;") + all);
    s.ProcessReceived();
    std::string stored;
    for (const std::string& row : s.Rows())
        stored += row;
    EXPECT_EQ(stored.substr(0, all.size()), all);
    EXPECT_EQ(s.Row(), 255 / 132);
    EXPECT_EQ(s.Col(), 255 % 132);
}

TEST(ScreenBuffer, WritingPastTheBottomWrapsToTheTopWithoutScrolling) {
    CTerminalScreen s;
    std::string feed;
    for (int row = 0; row < 42; ++row)
        feed += std::string(80, static_cast<char>('A' + row % 26));
    feed += "top";
    Receive(s, feed);
    s.ProcessReceived();
    EXPECT_EQ(s.Rows()[0].substr(0, 4), "topA");
    EXPECT_EQ(s.Rows()[41].substr(0, 80), std::string(80, 'A' + 41 % 26));
    EXPECT_EQ(s.Row(), 0);
    EXPECT_EQ(s.Col(), 3);
}

TEST(ScreenBuffer, PutCharWithoutWrapCheckNeverWritesOutsideTheRow) {
    CTerminalScreen s;
    for (int i = 0; i < 140; ++i)
        s.PutChar('z');
    EXPECT_EQ(s.Rows()[0], std::string(132, 'z'));
    EXPECT_EQ(s.Rows()[1], kBlankRow);
    s.WrapCursor();
    EXPECT_EQ(s.Row(), 1);
    EXPECT_EQ(s.Col(), 0);
}

} // namespace
