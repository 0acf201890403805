#include "CScreenChanges.h"
#include "ScreenTestSupport.h"

#include <gtest/gtest.h>

#include <array>
#include <random>

namespace {

std::uint64_t RowsDiffering(const ScreenState& a, const ScreenState& b) {
    std::uint64_t rows = 0;
    for (std::size_t r = 0; r < a.rows.size(); ++r)
        if (a.rows[r] != b.rows[r])
            rows |= std::uint64_t{1} << r;
    return rows;
}

// Three readers take at their own random moments while the line is drained and gathered at
// others: whatever differs between what a reader saw at two takes (rows, cursor, messages,
// width) is in what it took the second time, however often the others took meanwhile.
TEST(ScreenChanges, OneReadersTakingNeverHidesAChangeFromAnother) {
    std::mt19937 rng(29);
    for (int round = 0; round < 200; ++round) {
        CTerminalScreen screen;
        CScreenChanges changes(screen);
        std::array<int, 3> readers{};
        std::array<ScreenState, 3> seen;
        std::array<int, 3> announced{};
        for (std::size_t i = 0; i < readers.size(); ++i) {
            readers[i] = changes.Subscribe([&announced, i] { ++announced[i]; });
            ASSERT_EQ(changes.Take(readers[i]), CScreenChanges::Change::All());
            seen[i] = StateOf(screen);
        }
        const std::string stream = RandomStream(rng, 80);
        std::string_view rest = stream;
        while (!rest.empty()) {
            const std::size_t piece = std::min<std::size_t>(rest.size(), 1 + rng() % 16);
            screen.ReceiveBytes(rest.substr(0, piece));
            rest.remove_prefix(piece);
            if (rng() % 2 == 0) {
                screen.ProcessReceived();
                changes.Gather();
            }
            for (std::size_t i = 0; i < readers.size(); ++i) {
                if (rng() % (2 + i) != 0)
                    continue;
                const ScreenState now = StateOf(screen);
                const CScreenChanges::Change took = changes.Take(readers[i]);
                const std::uint64_t differing = RowsDiffering(seen[i], now);
                ASSERT_EQ(took.m_rows & differing, differing) << Printable(stream);
                ASSERT_TRUE(took.m_cursor || (seen[i].row == now.row && seen[i].col == now.col));
                ASSERT_TRUE(took.m_messages ||
                            (seen[i].status == now.status && seen[i].label == now.label));
                ASSERT_TRUE(took.m_width || seen[i].wide == now.wide);
                seen[i] = now;
            }
        }
        // Every reader heard of every gather that found something, whoever took.
        EXPECT_EQ(announced[0], announced[1]);
        EXPECT_EQ(announced[1], announced[2]);
    }
}

// The drain's cue: one for the first byte after it was armed, however many follow; bytes that
// wait unarmed keep it unarmed unless asked (their drain is due anyway); none for a copy, none
// once taken away.
TEST(ScreenChanges, ArrivalIsCuedOncePerArming) {
    CTerminalScreen screen;
    int cues = 0;
    screen.SetArrival([&] { ++cues; });
    screen.ReceiveBytes("ab");
    screen.ReceiveByte('c');
    EXPECT_EQ(cues, 1);
    screen.ProcessReceived();
    screen.ReceiveByte('d');
    EXPECT_EQ(cues, 1); // draining is not arming: the drain's owner arms
    EXPECT_TRUE(screen.ArmArrival());
    screen.ReceiveByte('e');
    EXPECT_EQ(cues, 1);
    screen.ProcessReceived();
    EXPECT_FALSE(screen.ArmArrival());
    screen.ReceiveByte('f');
    screen.ReceiveByte('g');
    EXPECT_EQ(cues, 2);
    EXPECT_TRUE(screen.ArmArrival(true));
    screen.ReceiveByte('h');
    EXPECT_EQ(cues, 3);
    CTerminalScreen copy(screen);
    copy.ProcessReceived();
    copy.ArmArrival();
    copy.ReceiveByte('i');
    EXPECT_EQ(cues, 3);
    screen.ProcessReceived();
    screen.ArmArrival();
    screen.SetArrival({});
    screen.ReceiveByte('j');
    EXPECT_EQ(cues, 3);
}

} // namespace
