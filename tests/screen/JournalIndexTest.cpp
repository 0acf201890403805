#include "CJournalIndex.h"
#include "CScreenCommands.h"
#include "CScreenText.h"
#include "CTrigramFilter.h"
#include "CTtyrecPlayer.h"
#include "CTtyrecReader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono;

CJournalIndex::Time At(std::int64_t second) {
    return CJournalIndex::Time(seconds(1'800'000'000 + second));
}

class JournalIndexTest : public ::testing::Test {
protected:
    JournalIndexTest()
        : m_folder(fs::temp_directory_path() /
                   ("journal-index-" + std::to_string(std::random_device{}()))) {
        fs::create_directories(m_folder);
    }
    ~JournalIndexTest() override { fs::remove_all(m_folder); }

    // Appends records, one a second from `second` on, to the named journal file.
    void Append(const std::string& name, const std::vector<std::string>& chunks,
                std::int64_t second) {
        std::string bytes;
        for (const std::string& chunk : chunks)
            CTtyrecRecord::Encode(At(second++), chunk, bytes);
        std::ofstream(m_folder / name, std::ios::binary | std::ios::app) << bytes;
    }

    fs::path m_folder;
};

std::vector<std::string> SampleChunks(std::size_t bytes) {
    std::ifstream capture(TALLYVIEW_SAMPLE_CAPTURE, std::ios::binary);
    const std::string sample{std::istreambuf_iterator<char>(capture), {}};
    std::mt19937 rng(5);
    std::vector<std::string> chunks;
    for (std::size_t at = 0; at < bytes;) {
        const std::size_t n = 1 + rng() % 200;
        chunks.push_back(sample.substr(at % sample.size(), n));
        at += n;
    }
    return chunks;
}

// Any moment, across checkpoints and files, equals the screen of a straight replay of its
// file up to that record, pending bytes included.
TEST_F(JournalIndexTest, EveryMomentEqualsAStraightReplay) {
    const std::vector<std::string> first = SampleChunks(2 * CJournalIndex::kCheckpointBytes + 999);
    const std::vector<std::string> second = SampleChunks(CJournalIndex::kCheckpointBytes / 3);
    Append("2027-01-15_18-00-00.ttyrec", first, 0);
    Append("2027-01-15_21-00-00.ttyrec", second, 20'000);
    Append("2027-01-16_00-00-00.ttyrec", {"another day"}, 30'000);

    CJournalIndex index(m_folder, "2027-01-15_");
    index.Update();
    ASSERT_EQ(index.RecordCount(), first.size() + second.size());
    std::vector<std::string> expected;
    for (const auto* chunks : {&first, &second}) {
        CTerminalScreen screen;
        for (const std::string& chunk : *chunks) {
            screen.ReceiveBytes(chunk);
            screen.ProcessReceived();
            expected.push_back(CScreenCommands::Of(screen));
        }
    }
    for (std::uint64_t r = 0; r < expected.size(); r += 41) {
        const auto moment = index.At(r);
        ASSERT_TRUE(moment);
        ASSERT_EQ(CScreenCommands::Of(*moment->m_screen), expected[r]) << "record " << r;
        EXPECT_EQ(moment->m_time, r < first.size() ? At(r) : At(20'000 + r - first.size()));
    }
    EXPECT_FALSE(index.At(expected.size()));
    // No copy of any screen; records a second apart are each a moment the index lists.
    EXPECT_LT(index.MemoryBytes(), 64u * 1024 + index.MomentCount() * sizeof(std::uint64_t));
}

TEST_F(JournalIndexTest, RecordAtATime) {
    Append("2027-01-15_18-00-00.ttyrec", {"a", "b", "c"}, 10);
    CJournalIndex index(m_folder, "2027-01-15_");
    index.Update();
    const struct {
        std::int64_t second;
        std::uint64_t record;
    } cases[] = {{0, 0}, {10, 0}, {11, 1}, {12, 2}, {99, 2}};
    for (const auto& c : cases)
        EXPECT_EQ(index.RecordAt(At(c.second)), c.record) << c.second;
}

// Appearances only: a text that stays on the screen, or is written again over itself, does
// not count again; one letter can complete it; a checkpoint between changes nothing.
TEST_F(JournalIndexTest, FindsWhereTheTextAppears) {
    std::vector<std::string> chunks = {
        "\x1b+\x1b`;",
        "\x1b"
        "a5R3CGOAT", // 1
        "\x1b"
        "a5R6CL", // 2: GOAL appears by its last letter
        "\x1b"
        "a5R3CGOAL", // 3: the same text again
        "\x1b+",     // 4: gone
        "\x1b"
        "a9R1Cthe Goal!", // 5: appears, in other case
    };
    // Filler on another row, past a checkpoint, while the screen otherwise stays.
    const auto fill = [&] {
        for (int i = 0; i < 300; ++i)
            chunks.push_back("\x1b"
                             "a1R1C" +
                             std::string(1000, static_cast<char>('a' + i % 5)));
    };
    fill();
    chunks.push_back("\x1b"
                     "a9R5CX"); // 306: gone
    chunks.push_back("\x1b"
                     "a20R1CGO\x1b"
                     "a20R3CAL"); // 307: appears within one record
    chunks.push_back("\x1b"
                     "a20R1CX"); // 308: gone
    fill();
    chunks.push_back("\x1b"
                     "a9R5CG"); // 609: appears by a letter beside ones written blocks before
    CJournalIndex index(m_folder, "2027-01-15_");
    Append("2027-01-15_18-00-00.ttyrec", chunks, 0);
    index.Update();

    const struct {
        std::uint64_t from;
        bool forward;
        std::optional<std::uint64_t> found;
    } cases[] = {
        {0, true, 2},
        {2, true, 5},
        {5, true, 307},
        {307, true, 609},
        {609, true, std::nullopt},
        {609, false, 307},
        {307, false, 5},
        {100, false, 5},
        {5, false, 2},
        {2, false, std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(index.Find("goal", c.from, c.forward), c.found)
            << c.from << (c.forward ? " forward" : " backward");
    EXPECT_EQ(index.Find("no such", 0, true), std::nullopt);
}

// Find passes over the blocks whose rows never showed the text, and over no other: texts taken
// from the rows at random moments are found, both ways, where a plain replay of every record
// sees them appear. The closed file's blocks come from its kept index.
TEST_F(JournalIndexTest, FindsWhatAPlainReplayFinds) {
    const fs::path journal = m_folder / "2027-01-15_18-00-00.ttyrec";
    Append(journal.filename().string(), SampleChunks(2 * CJournalIndex::kCheckpointBytes + 9999),
           0);
    Append("2027-01-15_19-00-00.ttyrec", {"later"}, 90000);
    CJournalIndex(m_folder, "2027-01-15_").Update();
    ASSERT_TRUE(CJournalIndexFile::Load(journal));
    CJournalIndex index(m_folder, "2027-01-15_");
    index.Update();

    const auto replay = [&](const std::function<void(std::uint64_t, CTerminalScreen&)>& moment) {
        std::ifstream in(journal, std::ios::binary);
        CTtyrecReader reader(in);
        CTerminalScreen screen;
        std::uint64_t record = 0;
        for (CTtyrecRecord r; reader.Next(r); ++record) {
            screen.ReceiveBytes(r.m_data);
            screen.ProcessReceived();
            moment(record, screen);
        }
    };
    std::mt19937 rng(11);
    struct Text {
        std::uint64_t moment;
        std::string folded;
        std::vector<std::uint64_t> appears; // where the plain replay sees it appear
    };
    std::vector<Text> texts;
    for (int i = 0; i < 30; ++i)
        texts.push_back({rng() % (index.RecordCount() - 1), {}, {}});
    replay([&](std::uint64_t record, CTerminalScreen& screen) {
        for (Text& text : texts) {
            for (int tries = 0; text.moment == record && text.folded.empty() && tries < 100;
                 ++tries) {
                const std::string_view row =
                    CScreenText::UpToNul(screen.Rows()[rng() % CTerminalScreen::kRows]);
                const std::size_t length = 3 + rng() % 8;
                if (row.size() < length)
                    continue;
                const std::string candidate =
                    CTrigramFilter::Fold(row.substr(rng() % (row.size() - length + 1), length));
                if (candidate.find_first_not_of(' ') != std::string::npos)
                    text.folded = candidate;
            }
        }
    });
    std::erase_if(texts, [](const Text& text) { return text.folded.empty(); });
    ASSERT_GE(texts.size(), 20u);
    std::vector<bool> held(texts.size());
    replay([&](std::uint64_t record, CTerminalScreen& screen) {
        std::string rows; // folded, each up to its NUL and ended by one
        for (const std::string& row : screen.Rows())
            rows += CTrigramFilter::Fold(CScreenText::UpToNul(row)) + '\0';
        for (std::size_t t = 0; t < texts.size(); ++t) {
            const bool holds = rows.find(texts[t].folded) != std::string::npos;
            if (holds && !held[t])
                texts[t].appears.push_back(record);
            held[t] = holds;
        }
    });

    for (const Text& text : texts) {
        const std::vector<std::uint64_t>& at = text.appears;
        const std::uint64_t from = rng() % (text.moment + 1);
        const auto next = std::upper_bound(at.begin(), at.end(), from);
        const auto last = std::upper_bound(at.begin(), at.end(), text.moment);
        ASSERT_NE(last, at.begin()) << text.folded;
        EXPECT_EQ(index.Find(text.folded, from, true),
                  next == at.end() ? std::nullopt : std::optional(*next))
            << text.folded;
        EXPECT_EQ(index.Find(text.folded, text.moment + 1, false), *(last - 1)) << text.folded;
    }
}

// The index follows a journal being written: a record not yet complete is read once it is, a
// file begun later joins the timeline, and an end that stays torn is noted once a newer file
// shows that nothing more will come.
TEST_F(JournalIndexTest, FollowsTheGrowingEnd) {
    const std::string name = "2027-01-15_18-00-00.ttyrec";
    const auto appendBytes = [&](const std::string& bytes) {
        std::ofstream(m_folder / name, std::ios::binary | std::ios::app) << bytes;
    };
    Append(name, {"\x1b+one"}, 0);
    std::string two;
    CTtyrecRecord::Encode(At(1), " two", two);
    appendBytes(two.substr(0, 14));

    CJournalIndex index(m_folder, "2027-01-15_");
    EXPECT_TRUE(index.Update());
    EXPECT_EQ(index.RecordCount(), 1u);
    EXPECT_TRUE(index.Notes().empty());

    appendBytes(two.substr(14) + two.substr(0, 5));
    EXPECT_TRUE(index.Update());
    EXPECT_EQ(index.RecordCount(), 2u);
    EXPECT_EQ(index.At(1)->m_screen->Rows()[0].substr(0, 7), "one two");

    Append("2027-01-15_19-00-00.ttyrec", {"\x1b+three"}, 3600);
    EXPECT_TRUE(index.Update());
    ASSERT_EQ(index.RecordCount(), 3u);
    EXPECT_EQ(index.At(2)->m_screen->Rows()[0].substr(0, 6), "three ");
    ASSERT_EQ(index.Notes().size(), 1u);
    EXPECT_NE(index.Notes()[0].find(name), std::string::npos);
    EXPECT_FALSE(index.Update());
    EXPECT_EQ(CJournalIndex::NewestDay(m_folder), "2027-01-15");
}

// A restart after the clock was set back begins a file whose first record is older than the
// last file's: the index still follows it as it grows, and its last moment is the live screen.
TEST_F(JournalIndexTest, FollowsTheFileWrittenAfterTheClockWentBack) {
    Append("2027-01-15_18-00-00.ttyrec", {"\x1b+before"}, 3600);
    const std::string written = "2027-01-15_17-10-00.ttyrec";
    Append(written, {"\x1b+live"}, 600);

    CJournalIndex index(m_folder, "2027-01-15_");
    index.Update();
    Append(written, {" on"}, 601);
    EXPECT_TRUE(index.Update());
    ASSERT_EQ(index.RecordCount(), 3u);
    EXPECT_EQ(index.At(2)->m_screen->Rows()[0].substr(0, 8), "live on ");
    EXPECT_EQ(index.LastTime(), At(601));
}

// A closed file's index is kept beside it and used only while it matches the file: an edit
// (even one that keeps the size and time), a cut, a replacement or an index left half-written
// makes the file be read again, so the timeline shows the file as it is.
TEST_F(JournalIndexTest, KeptIndexIsUsedOnlyWhileItMatchesItsFile) {
    const fs::path journal = m_folder / "2027-01-15_18-00-00.ttyrec";
    const fs::path kept = CJournalIndexFile::PathOf(journal);
    const auto keepingTime = [&](const std::function<void()>& change) {
        const auto time = fs::last_write_time(journal);
        change();
        fs::last_write_time(journal, time);
    };
    const auto setLastByte = [&](char c) {
        std::fstream file(journal, std::ios::binary | std::ios::in | std::ios::out);
        file.seekp(-1, std::ios::end);
        file.put(c);
    };
    const struct {
        const char* what;
        std::function<void()> change;
        bool used;
    } cases[] = {
        {"untouched", [] {}, true},
        {"edited", [&] { keepingTime([&] { setLastByte('#'); }); }, false},
        {"truncated", [&] { fs::resize_file(journal, fs::file_size(journal) - 1); }, false},
        {"replaced",
         [&] {
             keepingTime([&] {
                 fs::remove(journal);
                 Append(journal.filename().string(), SampleChunks(30'000), 100);
             });
         },
         false},
        {"half-written", [&] { fs::resize_file(kept, fs::file_size(kept) - 1); }, false},
    };
    for (const auto& c : cases) {
        fs::remove_all(m_folder);
        fs::create_directories(m_folder);
        Append(journal.filename().string(), SampleChunks(30'000), 0);
        Append("2027-01-15_19-00-00.ttyrec", {"later"}, 9000);
        CJournalIndex(m_folder, "2027-01-15_").Update();
        ASSERT_TRUE(fs::exists(kept)) << c.what;
        c.change();
        EXPECT_EQ(CJournalIndexFile::Load(journal).has_value(), c.used) << c.what;

        CJournalIndex index(m_folder, "2027-01-15_");
        index.Update();
        CTerminalScreen played;
        std::ifstream in(journal, std::ios::binary);
        const CTtyrecPlayer::Result result = CTtyrecPlayer::Play(in, played);
        ASSERT_EQ(index.RecordCount(), result.m_records + 1) << c.what;
        EXPECT_EQ(CScreenCommands::Of(*index.At(result.m_records - 1)->m_screen),
                  CScreenCommands::Of(played))
            << c.what;
    }
}

// Stepping by the moments a person sees: a burst ends one once the line is quiet for the
// quarter second (249 ms is not), a steady stream one a second, a file's end one; the growing
// end is the last step and becomes a moment once the line falls quiet after it (or the clock
// goes back). The closed
// file's moments come from its kept index just the same.
TEST_F(JournalIndexTest, StepsByTheMomentsTheScreenSettled) {
    const auto write = [&](const std::string& name, const std::vector<std::int64_t>& millis) {
        std::string bytes;
        for (const std::int64_t ms : millis)
            CTtyrecRecord::Encode(At(0) + milliseconds(ms), "x", bytes);
        std::ofstream(m_folder / name, std::ios::binary | std::ios::app) << bytes;
    };
    std::vector<std::int64_t> first = {0, 5, 10, 15, 1015, 1264}; // 0-3, 4-5
    for (int k = 0; k < 25; ++k)
        first.push_back(1514 + 100 * k); // 6-30, steady for 2.4 s
    first.push_back(5914);               // 31, its file's last
    write("2027-01-15_18-00-00.ttyrec", first);
    write("2027-01-15_19-00-00.ttyrec", {10000, 10010}); // 32-33, still written

    const struct {
        std::uint64_t from;
        std::int64_t moments;
        std::uint64_t to;
    } steps[] = {{0, 1, 3},   {3, 1, 5},   {4, 1, 5},   {5, 1, 15}, {15, 1, 25},  {25, 1, 30},
                 {30, 1, 31}, {31, 1, 33}, {33, 1, 33}, {0, 2, 5},  {33, -1, 31}, {32, -1, 31},
                 {16, -2, 5}, {4, -1, 3},  {3, -1, 0},  {2, -9, 0}, {7, 0, 7}};
    CJournalIndex(m_folder, "2027-01-15_").Update();
    ASSERT_TRUE(CJournalIndexFile::Load(m_folder / "2027-01-15_18-00-00.ttyrec"));
    for (const bool kept : {false, true}) {
        if (!kept)
            fs::remove(CJournalIndexFile::PathOf(m_folder / "2027-01-15_18-00-00.ttyrec"));
        CJournalIndex index(m_folder, "2027-01-15_");
        index.Update();
        for (const auto& step : steps)
            EXPECT_EQ(index.MomentFrom(step.from, step.moments), step.to)
                << step.from << " by " << step.moments << (kept ? ", kept index" : "");
    }

    CJournalIndex index(m_folder, "2027-01-15_");
    index.Update();
    write("2027-01-15_19-00-00.ttyrec", {10020, 10520}); // 34 ends a burst; 35
    index.Update();
    EXPECT_EQ(index.MomentFrom(31, 1), 34u);
    EXPECT_EQ(index.MomentFrom(34, 1), 35u);
    // The clock set back 230 ms after 36: a moment all the same.
    write("2027-01-15_19-00-00.ttyrec", {10530, 10300, 10310}); // 36, 37, 38
    index.Update();
    EXPECT_EQ(index.MomentFrom(35, 1), 36u);
    EXPECT_EQ(index.MomentFrom(36, 1), 38u);
}

} // namespace
