// tallyview-replay run as a process on real capture files.
#include "CChildProcess.h"
#include "CTempDir.h"

#include "CTtyrecRecord.h"

#include <gtest/gtest.h>

#include <ctime>

#include <algorithm>
#include <fstream>
#include <random>
#include <sstream>

namespace {

using namespace std::string_literals;

std::string Replay(const std::vector<std::string>& args,
                   const std::string& stdinPath = "/dev/null") {
    std::vector<std::string> argv{TALLYVIEW_REPLAY};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string out;
    std::string err;
    EXPECT_EQ(CChildProcess::Run(argv, out, err, stdinPath), 0) << err;
    EXPECT_EQ(err, "");
    return out;
}

std::string Padded(std::string text) {
    text.resize(132, ' ');
    return text;
}

// A board in 132 columns: text placed by both kinds of address, a row cut by a NUL, a row
// that is blank up to its NUL, a last row that starts with NUL, the two messages, bytes
// that need escaping, and an address cut off at the very end.
const std::string kCapture = "\x1b`;"s // 132 columns
                             "\x1b"
                             "a1R1CGULLS 3  LYNX 1"s // row 0
                             "\x1b=\x21\x20"
                             "A\\|\x7f\xff\x01"s // row 1
                             "\x1b=\x22\x20"
                             "AB\0CD"s // row 2: cut at the NUL
                             "\x1b"
                             "a5R11C\0XYZ"s     // row 4: blank before its NUL
                             "\x1b=\x25\x20\0"s // row 5: starts with NUL
                             "\x1b"
                             "F  SHOT ON GOAL \r"s
                             "\x1b"
                             "fPERIOD 2\r"s
                             "\x1b="s; // waits for its two bytes

TEST(ReplayTool, ShowsWhatTheWindowShows) {
    CTempDir dir;
    const std::string capture = dir.Write("game.cap", kCapture);
    const std::string expected = Padded("GULLS 3  LYNX 1") + "\n" + "A\\|\x7f\xff\x01" +
                                 std::string(126, ' ') + "\n" + "AB\n" + Padded("") + "\n" +
                                 std::string(10, ' ') + "\n" +
                                 "\n"
                                 "SHOT ON GOAL\n"
                                 "PERIOD 2\n"
                                 "006-002\n";
    EXPECT_EQ(Replay({capture}), expected);
    EXPECT_EQ(Replay({"-"}, capture), expected);
}

TEST(ReplayTool, StatePrintsEveryByteEscaped) {
    CTempDir dir;
    const std::string capture = dir.Write("game.cap", kCapture);
    std::vector<std::string> rows(42, Padded(""));
    rows[0] = Padded("GULLS 3  LYNX 1");
    rows[1] = "A\\\\|\\x7f\\xff\\x01" + std::string(126, ' ');
    rows[2] = "AB\\x00CD" + std::string(127, ' ');
    rows[4] = std::string(10, ' ') + "\\x00XYZ" + std::string(118, ' ');
    rows[5] = "\\x00" + std::string(131, ' ');
    std::ostringstream expected;
    for (int i = 0; i < 42; ++i)
        expected << 'R' << (i < 10 ? "0" : "") << i << '|' << rows[i] << "|\n";
    expected << "STATUS|SHOT ON GOAL|\nLABEL|PERIOD 2|\nCURSOR|5,1|\nWIDE|1|\nPENDING|2|\n";
    EXPECT_EQ(Replay({"--state", capture}), expected.str());
}

// However the sample game is cut into drains, the final state is that of one drain.
TEST(ReplayTool, DrainsAnywhereGiveTheSameState) {
    CTempDir dir;
    const std::string reference = Replay({"--state", TALLYVIEW_SAMPLE});
    ASSERT_NE(reference.find("STATUS|END OF 2ND PERIOD|\n"), std::string::npos) << reference;
    ASSERT_NE(reference.find("PENDING|0|\n"), std::string::npos);

    const auto size =
        static_cast<std::size_t>(std::ifstream(TALLYVIEW_SAMPLE, std::ios::ate).tellg());
    std::mt19937 rng(7);
    std::vector<std::size_t> offsets{0, 0, 1};
    for (int i = 0; i < 3000; ++i)
        offsets.push_back(rng() % size);
    offsets.push_back(size);
    std::sort(offsets.begin(), offsets.end());
    std::string listing;
    for (const std::size_t offset : offsets)
        listing += std::to_string(offset) + "\n";
    const std::string drainAt = dir.Write("offsets.txt", listing);

    for (const std::vector<std::string>& split : {std::vector<std::string>{"--chunk", "1"},
                                                  {"--chunk", "7"},
                                                  {"--chunk", "4093"},
                                                  {"--drain-at", drainAt}}) {
        std::vector<std::string> args = split;
        args.insert(args.end(), {"--state", TALLYVIEW_SAMPLE});
        EXPECT_EQ(Replay(args), reference) << split[0] << " " << split[1];
    }
}

struct BadInput {
    std::vector<std::string> args;
    std::string named; // what the message must name
};

TEST(ReplayTool, BadInputFailsWithOneLineAndNoOutput) {
    CTempDir dir;
    const std::string capture = dir.Write("game.cap", "0123456789");
    const std::string missing = dir.Path("missing.cap");
    const std::string letters = dir.Write("letters.txt", "3\nfive\n");
    const std::string descending = dir.Write("descending.txt", "3\n8\n5\n");
    const std::string beyond = dir.Write("beyond.txt", "4\n11\n");
    const std::string huge = dir.Write("huge.txt", "99999999999999999999999\n");
    const std::string negative = dir.Write("negative.txt", "-1\n");
    const BadInput cases[] = {
        {{missing}, missing},
        {{dir.Path("")}, dir.Path("")},
        {{"--drain-at", missing, capture}, missing},
        {{"--drain-at", letters, capture}, letters + ": line 2"},
        {{"--drain-at", descending, capture}, descending + ": line 3"},
        {{"--drain-at", beyond, capture}, beyond},
        {{"--drain-at", huge, capture}, huge},
        {{"--drain-at", negative, capture}, negative},
        {{"--drain-at", beyond, "-"}, beyond},
        {{"--frobnicate", capture}, "--frobnicate"},
        {{"--chunk", "0", capture}, "chunk"},
        {{"--chunk", "ten", capture}, "ten"},
        {{"--chunk", "-3", capture}, "-3"},
        {{"--chunk", "4", "--drain-at", beyond, capture}, "--drain-at"},
        {{capture, "--chunk"}, "--chunk"},
        {{capture, capture}, capture},
        {{"--state"}, "capture"},
        {{"--at", "+5", capture}, "journal"},
        {{"--at", "25:00:00", "--journal", capture}, "25:00:00"},
        {{"--at", "12:60:00", "--journal", capture}, "12:60:00"},
        {{"--at", "1:00:00", "--journal", capture}, "1:00:00"},
        {{"--at", "+ten", "--journal", capture}, "ten"},
        {{"--at", "+-3", "--journal", capture}, "-3"},
    };
    for (const BadInput& bad : cases) {
        std::vector<std::string> argv{TALLYVIEW_REPLAY};
        argv.insert(argv.end(), bad.args.begin(), bad.args.end());
        std::string out;
        std::string err;
        SCOPED_TRACE(bad.named);
        EXPECT_EQ(CChildProcess::Run(argv, out, err, capture), 2);
        EXPECT_EQ(out, "");
        EXPECT_NE(err.find(bad.named), std::string::npos) << err;
        EXPECT_EQ(err.find('\n'), err.size() - 1) << err;
    }
}

} // namespace

namespace {

// Records at 12:00:00, 12:00:10 and 12:00:20 local time of a day; the first is the screen the
// file began with, as commands.
std::string Journal() {
    std::tm noon{};
    noon.tm_year = 2026 - 1900;
    noon.tm_mon = 2;
    noon.tm_mday = 10;
    noon.tm_hour = 12;
    noon.tm_isdst = -1;
    const CTtyrecRecord::Time start(std::chrono::seconds(std::mktime(&noon)));
    std::string file;
    CTtyrecRecord::Encode(start + std::chrono::microseconds(250),
                          "\x1b+\x1b"
                          "FHALF TIME\r",
                          file);
    CTtyrecRecord::Encode(start + std::chrono::seconds(10), "GOAL", file);
    CTtyrecRecord::Encode(start + std::chrono::seconds(20),
                          "\x1b"
                          "a2R1CSAVE",
                          file);
    return file;
}

TEST(ReplayTool, JournalUpToAMomentByClockOrFromTheStart) {
    CTempDir dir;
    const std::string journal = dir.Write("2026-03-10_12-00-00.ttyrec", Journal());
    const std::string unnamed = dir.Write("journal.bin", Journal());
    const std::string at0 = "HALF TIME\n\n001-001\n";
    const std::string at10 = Padded("GOAL") + "\nHALF TIME\n\n001-005\n";
    const std::string at20 = Padded("GOAL") + "\n" + Padded("SAVE") + "\nHALF TIME\n\n002-005\n";
    const struct {
        std::vector<std::string> args;
        std::string shown;
    } cases[] = {
        {{journal}, at20},
        {{"--journal", unnamed}, at20},
        {{"--journal", "-"}, at20},
        {{"--at", "+0", journal}, at0},
        {{"--at", "+9", journal}, at0},
        {{"--at", "+10", journal}, at10},
        {{"--at", "+3600", journal}, at20},
        {{"--at", "11:00:00", journal}, at0},
        {{"--at", "12:00:19", journal}, at10},
        {{"--at", "12:00:20", "--chunk", "1", journal}, at20},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.back() + " " + c.args.front());
        EXPECT_EQ(Replay(c.args, unnamed), c.shown);
    }
}

TEST(ReplayTool, TornJournalShowsTheRecordsBeforeItWithANote) {
    CTempDir dir;
    const std::string whole = Journal();
    const std::string journal = dir.Write("torn.ttyrec", whole.substr(0, whole.size() - 3));
    std::string out;
    std::string err;
    EXPECT_EQ(CChildProcess::Run({TALLYVIEW_REPLAY, journal}, out, err), 0);
    EXPECT_EQ(out, Padded("GOAL") + "\nHALF TIME\n\n001-005\n");
    EXPECT_NE(err.find("note: torn record"), std::string::npos) << err;
}

} // namespace
