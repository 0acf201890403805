#include "ScreenTestSupport.h"

#include <gtest/gtest.h>

namespace {

using namespace std::string_literals;

// One ParseBuffer pass on a fresh screen (narrow, cursor home, row 0 prefilled by `setup`).
struct ParseCase {
    const char* name;
    std::string input;
    std::size_t handled;   // ParseBuffer's result
    int row, col;          // cursor afterwards
    std::string row0 = ""; // expected start of row 0, when given
    bool wide = false;
};

void PrintTo(const ParseCase& c, std::ostream* os) {
    *os << c.name;
}

class Parse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(Parse, HandlesBytesAndMovesCursor) {
    const ParseCase& c = GetParam();
    CTerminalScreen s;
    EXPECT_EQ(s.ParseBuffer(c.input), c.handled) << Printable(c.input);
    EXPECT_EQ(s.Row(), c.row);
    EXPECT_EQ(s.Col(), c.col);
    EXPECT_EQ(s.Rows()[0].substr(0, c.row0.size()), c.row0);
    EXPECT_EQ(s.Wide(), c.wide);
}

auto CaseName = [](const auto& info) { return std::string(info.param.name); };

INSTANTIATE_TEST_SUITE_P(PlainBytes, Parse,
                         ::testing::Values(ParseCase{"TwoLetters", "AB", 2, 0, 2, "AB"},
                                           ParseCase{"CrAndLfAreCharacters", "a\r\nb", 4, 0, 4,
                                                     "a\r\nb"},
                                           ParseCase{"NulIsACharacter", "a\0b"s, 3, 0, 3, "a\0b"s},
                                           ParseCase{"Empty", "", 0, 0, 0}),
                         CaseName);

INSTANTIATE_TEST_SUITE_P(
    AbsoluteAddress, Parse,
    ::testing::Values(ParseCase{"RowAndColumn", Esc("=\x22\x25"), 4, 2, 5},
                      ParseCase{"Incomplete", "x" + Esc("=\x22"), 1, 0, 1, "x"},
                      ParseCase{"LoneEsc", Esc(""), 0, 0, 0},
                      ParseCase{"LastRowLastReachableColumn", Esc("=\x49\x6f"), 4, 41, 79},
                      ParseCase{"RowOutOfRangeColumnApplied", Esc("=\x4a\x25"), 4, 0, 5},
                      ParseCase{"ColumnOutOfRangeRowApplied", Esc("=\x22\x1f"), 4, 2, 0},
                      ParseCase{"HighBytesAreNegative", Esc("=\x80\xff"), 4, 0, 0},
                      ParseCase{"ColumnPastNarrowWidthWraps", Esc("=\x25\x70"), 4, 6, 0},
                      ParseCase{"BottomRowPastWidthWrapsToTop", Esc("=\x49\x70"), 4, 0, 0},
                      ParseCase{"ThenText", Esc("=\x20\x22") + "hi", 6, 0, 4, "  hi"}),
    CaseName);

INSTANTIATE_TEST_SUITE_P(Skipped, Parse,
                         ::testing::Values(ParseCase{"A", Esc("Axy") + "z", 5, 0, 1, "z"},
                                           ParseCase{"AIncomplete", Esc("Ax"), 0, 0, 0},
                                           ParseCase{"G", Esc("Gx") + "z", 4, 0, 1, "z"},
                                           ParseCase{"Caret", Esc("^x") + "z", 4, 0, 1, "z"},
                                           ParseCase{"w", Esc("wx") + "z", 4, 0, 1, "z"},
                                           ParseCase{"Tilde", Esc("~x") + "z", 4, 0, 1, "z"},
                                           ParseCase{"TildeIncomplete", Esc("~"), 0, 0, 0},
                                           ParseCase{"N", Esc("N") + "z", 3, 0, 1, "z"},
                                           ParseCase{"k", Esc("k") + "z", 3, 0, 1, "z"},
                                           ParseCase{"n", Esc("n") + "z", 3, 0, 1, "z"},
                                           ParseCase{"o", Esc("o") + "z", 3, 0, 1, "z"},
                                           ParseCase{"v", Esc("v") + "z", 3, 0, 1, "z"},
                                           ParseCase{"c", Esc("cxyz") + "z", 6, 0, 1, "z"},
                                           ParseCase{"cIncomplete", Esc("cxy"), 0, 0, 0}),
                         CaseName);

INSTANTIATE_TEST_SUITE_P(
    Width, Parse,
    ::testing::Values(
        ParseCase{"GraveSemicolonIsWide", Esc("`;"), 3, 0, 0, "", true},
        ParseCase{"GraveColonIsNarrow", Esc("`;") + Esc("`:"), 6, 0, 0, "", false},
        ParseCase{"GraveOtherKeepsWidth", Esc("`;") + Esc("`x"), 6, 0, 0, "", true},
        ParseCase{"GraveIncomplete", Esc("`"), 0, 0, 0},
        ParseCase{"eFIsNarrow", Esc("`;") + Esc("eF"), 6, 0, 0, "", false},
        ParseCase{"eGIsNarrow", Esc("`;") + Esc("eG"), 6, 0, 0, "", false},
        ParseCase{"eOtherKeepsWidth", Esc("`;") + Esc("eH"), 6, 0, 0, "", true},
        ParseCase{"NarrowingWrapsAtOnce", Esc("`;") + std::string(100, 'x') + Esc("`:"), 106, 1, 0,
                  "", false},
        ParseCase{"WideKeepsColumn100", Esc("`;") + std::string(100, 'x'), 103, 0, 100, "", true}),
    CaseName);

INSTANTIATE_TEST_SUITE_P(
    DecimalAddress, Parse,
    ::testing::Values(ParseCase{"RowAndColumn", Esc("a12R40C"), 8, 11, 39},
                      ParseCase{"RowOutOfRange", Esc("a99R1C"), 7, 0, 0},
                      ParseCase{"NoRowDigits", Esc("aR5C"), 5, 0, 4},
                      ParseCase{"Row42Col80", Esc("a42R80C"), 8, 41, 79},
                      ParseCase{"Row0Ignored", Esc("a0R5C"), 6, 0, 4},
                      ParseCase{"Row43Ignored", Esc("a43R5C"), 7, 0, 4},
                      ParseCase{"Col133Ignored", Esc("`;") + Esc("a2R133C"), 11, 1, 0, "", true},
                      ParseCase{"Col132InWide", Esc("`;") + Esc("a2R132C"), 11, 1, 131, "", true},
                      ParseCase{"Col81WrapsInNarrow", Esc("a2R81C"), 7, 2, 0},
                      ParseCase{"SignAndBlanks", Esc("a +3R-1C"), 9, 2, 0},
                      ParseCase{"NoCAfterRowKeepsRow", Esc("a5R1234C"), 9, 4, 5, ""},
                      ParseCase{"RFarOnlyEscAConsumed", Esc("a1234R1C"), 9, 0, 7, "1234R1C"},
                      ParseCase{"NoRWithinWindow", Esc("a1C") + "xyz", 7, 0, 5, "1Cxyz"},
                      ParseCase{"NulBeforeCWaitsForFullWindow", Esc("a1\0R1C"s), 0, 0, 0},
                      ParseCase{"NulBeforeRConsumesEscA", Esc("a1\0R1Cxyzw"s), 11, 0, 9},
                      ParseCase{"NulBeforeColumnCKeepsRow", Esc("a3R1\0Cxyzw"s), 11, 2, 7},
                      ParseCase{"MissingCWaits", Esc("a12R40"), 0, 0, 0},
                      ParseCase{"CWithoutRWaits", Esc("aC"), 0, 0, 0}),
    CaseName);

// Status and label messages.
struct MessageCase {
    const char* name;
    std::string input;
    std::string status;
    std::string label;
    std::size_t handled;
};

void PrintTo(const MessageCase& c, std::ostream* os) {
    *os << c.name;
}

class Message : public ::testing::TestWithParam<MessageCase> {};

TEST_P(Message, SetsFieldsWithoutTouchingScreen) {
    const MessageCase& c = GetParam();
    CTerminalScreen s;
    s.ParseBuffer(Esc("Fold status\r") + Esc("fold label\r"));
    EXPECT_EQ(s.ParseBuffer(c.input), c.handled) << Printable(c.input);
    EXPECT_EQ(s.StatusText(), c.status);
    EXPECT_EQ(s.LabelText(), c.label);
    EXPECT_EQ(s.Row(), 0);
    EXPECT_EQ(s.Col(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, Message,
    ::testing::Values(
        MessageCase{"StatusTrimmed", Esc("F  Home 12  \r"), "Home 12", "old label", 14},
        MessageCase{"LabelTrimmed", Esc("f\t1st Period\n\r"), "old status", "1st Period", 15},
        MessageCase{"EmptyKeepsText", Esc("F\r"), "old status", "old label", 3},
        MessageCase{"BlankEmptiesText", Esc("F \r"), "", "old label", 4},
        MessageCase{"InnerEscIsText",
                    Esc("Fab\x1b"
                        "cd\r"),
                    "ab\x1b"
                    "cd",
                    "old label", 8},
        MessageCase{"NoCrWaits", Esc("Fpartial"), "old status", "old label", 0},
        MessageCase{"NulIsLeftOut", Esc("Fa\0b\r"s), "ab", "old label", 6},
        MessageCase{"OnlyNulsEmpty", Esc("F\0\r"s), "", "old label", 4},
        MessageCase{"HighBytesKept", Esc("f\xe9t\xe9\r"), "old status", "\xe9t\xe9", 6}),
    CaseName);

TEST(Message, MessageOfMaximumLengthIsAccepted) {
    CTerminalScreen s;
    const std::string text(CTerminalScreen::kMaxMessage - 1, 'm');
    EXPECT_EQ(s.ParseBuffer(Esc("F") + text + "\r"), text.size() + 3);
    EXPECT_EQ(s.StatusText(), text);
}

TEST(Message, MessageWithoutCrInMaximumLengthIsDroppedAndTextStored) {
    CTerminalScreen s;
    const std::string body = std::string(CTerminalScreen::kMaxMessage, 'm') + "\r";
    EXPECT_EQ(s.ParseBuffer(Esc("F") + body), body.size() + 2);
    EXPECT_EQ(s.StatusText(), "");
    // The bytes after ESC F were handled as ordinary input, the CR included.
    EXPECT_EQ(s.Rows()[0].substr(0, 80), std::string(80, 'm'));
    const int stored = CTerminalScreen::kMaxMessage + 1;
    EXPECT_EQ(s.Row(), stored / 80 % 42);
    EXPECT_EQ(s.Col(), stored % 80);
}

// Bytes after ESC that are not in the command set.
struct UnknownCase {
    const char* name;
    std::string input;
    std::string row0;
    std::size_t handled;
};

void PrintTo(const UnknownCase& c, std::ostream* os) {
    *os << c.name;
}

class Unknown : public ::testing::TestWithParam<UnknownCase> {};

TEST_P(Unknown, EscAndByteDroppedNothingElseChanges) {
    CTerminalScreen s;
    EXPECT_EQ(s.ParseBuffer(GetParam().input), GetParam().handled);
    EXPECT_EQ(s.Rows()[0].substr(0, GetParam().row0.size()), GetParam().row0);
    EXPECT_EQ(s.Col(), static_cast<int>(GetParam().row0.size()));
}

INSTANTIATE_TEST_SUITE_P(
    UnknownSequences, Unknown,
    ::testing::Values(UnknownCase{"Letter", "a" + Esc("Zb"), "ab", 4},
                      UnknownCase{"Del", "a" + Esc("\x7f") + "b", "ab", 4},
                      UnknownCase{"High", "a" + Esc("\x80") + "b", "ab", 4},
                      UnknownCase{"Ff", "a" + Esc("\xff") + "b", "ab", 4},
                      UnknownCase{"Nul", "a" + Esc("\0"s) + "b", "ab", 4},
                      UnknownCase{"EscEscStartsNewSequence", "a" + Esc(Esc("=  ")) + "b", "b", 7},
                      UnknownCase{"ManyEscThenLetter", Esc(Esc(Esc("Nb"))), "b", 5},
                      UnknownCase{"EscEscAtEndWaits", "a" + Esc(Esc("")), "a", 2}),
    CaseName);

TEST(ParseEscape, RejectsPositionsThatAreNotAnEscWithAFollower) {
    CTerminalScreen s;
    EXPECT_EQ(s.ParseEscape("", 0), 0u);
    EXPECT_EQ(s.ParseEscape("ab", 0), 0u);
    EXPECT_EQ(s.ParseEscape(Esc("+"), 2), 0u);
    EXPECT_EQ(s.ParseEscape(Esc(""), 0), 0u);
    EXPECT_EQ(s.ParseEscape("x" + Esc("+"), 1), 1u);
}

} // namespace
