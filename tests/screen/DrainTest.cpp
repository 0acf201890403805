#include "ScreenTestSupport.h"

#include <gtest/gtest.h>

#include <random>
#include <thread>

namespace {

using namespace std::string_literals;

TEST(Drain, NothingReceivedReturnsZeroAndChangesNothing) {
    CTerminalScreen s;
    EXPECT_EQ(s.ProcessReceived(), 0);
    EXPECT_EQ(StateOf(s), StateOf(CTerminalScreen()));
}

TEST(Drain, IncompleteSequenceWaitsAndTextBeforeItIsStoredAtOnce) {
    CTerminalScreen s;
    Receive(s, "X" + Esc("=\x22"));
    EXPECT_EQ(s.ProcessReceived(), 1);
    EXPECT_EQ(s.Rows()[0][0], 'X');
    EXPECT_EQ(s.Col(), 1);
    EXPECT_EQ(s.PendingSize(), 3u);
    Receive(s, "\x25");
    EXPECT_EQ(s.ProcessReceived(), 1);
    EXPECT_EQ(s.Row(), 2);
    EXPECT_EQ(s.Col(), 5);
    EXPECT_EQ(s.PendingSize(), 0u);
    // A drain of an incomplete remainder with nothing new still reports work.
    Receive(s, Esc("F waiting"));
    s.ProcessReceived();
    EXPECT_EQ(s.ProcessReceived(), 1);
    EXPECT_EQ(s.StatusText(), "");
    Receive(s, "\r");
    s.ProcessReceived();
    EXPECT_EQ(s.StatusText(), "waiting");
}

// The cases the line may split anywhere; each is cut at every position and fed in two drains
// and byte by byte, which must give the state of one drain.
const std::vector<std::string> kSplitStreams = {
    "ab" + Esc("=\x22\x25") + "cd",
    Esc("a12R40C") + "x",
    Esc("a5R1234C") + "y",
    Esc("aC") + "R5C" + "z",
    Esc("a1\0R1Cxyzw"s) + "q",
    Esc("a1234567890") + "r",
    Esc("F  Home 12  \r") + "s" + Esc("f\0label\r"s),
    Esc("`;") + std::string(90, 'w') + Esc("`:") + Esc("e") + "G" + Esc("c123"),
    Esc(Esc("Z")) + Esc("\x80") + Esc("T") + Esc("+") + Esc("Axy") + Esc("~!"),
};

TEST(Drain, EverySplitPointGivesTheSameStateAsOneDrain) {
    for (const std::string& stream : kSplitStreams) {
        const ScreenState whole = FeedWhole(stream);
        for (std::size_t cut = 1; cut < stream.size(); ++cut)
            EXPECT_EQ(FeedSplit(stream, {cut}), whole) << Printable(stream) << " cut at " << cut;
        std::vector<std::size_t> everyByte;
        for (std::size_t cut = 1; cut < stream.size(); ++cut)
            everyByte.push_back(cut);
        EXPECT_EQ(FeedSplit(stream, everyByte), whole) << Printable(stream) << " byte by byte";
    }
}

TEST(Drain, ABurstsStorageIsGivenBackAtTheDrain) {
    const std::string burst(2u << 20, 'b');
    CTerminalScreen s;
    // First into an empty remainder, then behind an incomplete message.
    for (const std::string& bytes : {burst + Esc("F cut"), "\r" + burst}) {
        Receive(s, bytes);
        s.ProcessReceived();
        EXPECT_LE(s.ReservedSize(), 2 * CTerminalScreen::kKeptCapacity);
    }
    EXPECT_EQ(s.StatusText(), "cut");
}

TEST(Drain, MalformedMessageNeverHoldsMoreThanItsLimit) {
    CTerminalScreen s;
    Receive(s, Esc("F"));
    for (std::size_t i = 0; i < CTerminalScreen::kMaxMessage - 1; ++i)
        s.ReceiveByte('m');
    s.ProcessReceived();
    EXPECT_EQ(s.PendingSize(), CTerminalScreen::kMaxMessage + 1);
    EXPECT_EQ(s.Col(), 0);
    s.ReceiveByte('m');
    s.ProcessReceived();
    EXPECT_EQ(s.PendingSize(), 0u);
    EXPECT_EQ(s.StatusText(), "");
    EXPECT_EQ(s.Row(), static_cast<int>(CTerminalScreen::kMaxMessage / 80 % 42));
}

TEST(Drain, RandomStreamsSplitAtRandomPointsMatchOneDrain) {
    std::mt19937 rng(20261207);
    for (int round = 0; round < 400; ++round) {
        const std::string stream = RandomStream(rng, 30);
        std::uniform_int_distribution<std::size_t> where(1, stream.size() - 1);
        std::vector<std::size_t> cuts(1 + round % 30);
        for (std::size_t& cut : cuts)
            cut = where(rng);
        std::sort(cuts.begin(), cuts.end());
        ASSERT_EQ(FeedSplit(stream, cuts), FeedWhole(stream)) << Printable(stream);
    }
}

TEST(Drain, BytesFromAReaderThreadAreAllInterpretedInOrder) {
    // Row-by-row text whose final screen depends on every byte and on their order.
    std::string stream;
    for (int i = 0; i < 200000; ++i)
        stream += static_cast<char>('!' + (i * 7 + i / 80) % 90);
    stream += Esc("Fdone\r");
    CTerminalScreen s;
    std::thread reader([&] { Receive(s, stream); });
    while (s.StatusText() != "done")
        s.ProcessReceived();
    reader.join();
    EXPECT_EQ(StateOf(s), FeedWhole(stream));
}

} // namespace
