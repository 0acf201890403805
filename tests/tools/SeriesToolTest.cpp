// tallyview-replay --series on the sample game as the journal keeps it, read back with the
// sample's fields file and with a field defined after the game.
#include "CChildProcess.h"
#include "CTempDir.h"

#include "CTtyrecRecord.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

using namespace std::chrono;

// The sample game at 9600 baud in records of 8 bytes, from 19:00:00 UTC on 2026-12-05.
std::string SampleJournal() {
    std::ifstream in(TALLYVIEW_SAMPLE, std::ios::binary);
    const std::string capture{std::istreambuf_iterator<char>(in), {}};
    const CTtyrecRecord::Time start{seconds(1'796'497'200)};
    std::string journal;
    for (std::size_t at = 0; at < capture.size(); at += 8) {
        const std::string_view chunk = std::string_view(capture).substr(at, 8);
        const auto sent = microseconds((at + chunk.size()) * 1'000'000 / 960);
        CTtyrecRecord::Encode(start + sent, chunk, journal);
    }
    return journal;
}

struct Case {
    const char* m_fields; // empty: the sample's file
    std::vector<std::string> m_args;
    const char* m_csv;
};

// Read off the board by eye (tallyview-replay --at on each side of every change).
const Case kCases[] = {
    {nullptr,
     {"home_score"},
     "time,value,current\n"
     "2026-12-05T19:00:01.175,1,true\n"
     "2026-12-05T19:00:25.133,2,true\n"
     "2026-12-05T19:01:37.091,3,true\n"},
    {nullptr,
     {"visitor_score"},
     "time,value,current\n"
     "2026-12-05T19:00:01.208,1,true\n"
     "2026-12-05T19:01:51.591,2,true\n"
     "2026-12-05T19:03:59.241,3,true\n"},
    // From within the first TV timeout: the board is away, its last score held.
    {nullptr,
     {"visitor_score", "--from", "19:02:13", "--to", "19:04:00"},
     "time,value,current\n"
     "2026-12-05T19:02:13.000,2,false\n"
     "2026-12-05T19:03:59.241,3,true\n"},
    // A field nobody defined while the game was on.
    {R"({"version": 1, "tables": [], "fields": [{"name": "home_faceoffs", "row": 41,
         "column": 16, "width": 3, "when": {"row": 41, "column": 2, "text": "FACEOFFS"}}]})",
     {"home_faceoffs", "--from", "19:00:20", "--to", "19:00:40"},
     "time,value,current\n"
     "2026-12-05T19:00:20.000,9,true\n"
     "2026-12-05T19:00:25.708,10,true\n"
     "2026-12-05T19:00:26.533,11,true\n"
     "2026-12-05T19:00:33.675,12,true\n"
     "2026-12-05T19:00:34.416,13,true\n"},
};

TEST(SeriesTool, ValuesAtTheirChanges) {
    setenv("TZ", "UTC", 1);
    const CTempDir dir;
    const std::string journal = dir.Write("2026-12-05_19-00-00.ttyrec", SampleJournal());
    for (const Case& test : kCases) {
        const std::string fields =
            test.m_fields ? dir.Write("later.fields.json", test.m_fields) : TALLYVIEW_SAMPLE_FIELDS;
        std::vector<std::string> argv{TALLYVIEW_REPLAY, "--series", fields};
        argv.insert(argv.end(), test.m_args.begin(), test.m_args.end());
        argv.push_back(journal);
        std::string out;
        std::string err;
        EXPECT_EQ(CChildProcess::Run(argv, out, err), 0) << err;
        EXPECT_EQ(out, test.m_csv) << test.m_args.front();
    }
}

// A name the fields file lacks, or a table cell outside its table, is refused with the reason.
TEST(SeriesTool, UnknownNameRefused) {
    const CTempDir dir;
    const std::string journal = dir.Write("2026-12-05_19-00-00.ttyrec", SampleJournal());
    for (const char* name : {"home_goals", "home_players.21.g", "home_players.1.goals"}) {
        std::string out;
        std::string err;
        EXPECT_EQ(
            CChildProcess::Run(
                {TALLYVIEW_REPLAY, "--series", TALLYVIEW_SAMPLE_FIELDS, name, journal}, out, err),
            2);
        EXPECT_EQ(out, "");
        EXPECT_NE(err.find(std::string("named \"") + name + "\""), std::string::npos) << err;
    }
}

} // namespace
