#include "CScreenCommands.h"
#include "ScreenTestSupport.h"

#include <gtest/gtest.h>

#include <random>

namespace {

// Receives `bytes` in random pieces, draining after some of them only, so that bytes are left
// both pending (an incomplete sequence) and undrained in the receive buffer.
void FeedInPieces(std::mt19937& rng, std::string_view bytes, CTerminalScreen& screen) {
    while (!bytes.empty()) {
        const std::size_t piece = std::min<std::size_t>(bytes.size(), 1 + rng() % 12);
        screen.ReceiveBytes(bytes.substr(0, piece));
        bytes.remove_prefix(piece);
        if (rng() % 2 == 0)
            screen.ProcessReceived();
    }
}

void ExpectSame(const CTerminalScreen& a, const CTerminalScreen& b, std::string_view fed) {
    ASSERT_EQ(StateOf(a), StateOf(b)) << Printable(fed);
    ASSERT_TRUE(a == b) << Printable(fed);
    // The journal's first record and the publisher's key frame are written from the shadow.
    ASSERT_EQ(CScreenCommands::Of(a), CScreenCommands::Of(b)) << Printable(fed);
}

// A follower starts from the live screen at some cut of the line: once from a copy, once from
// the live screen written out as commands and parsed again. Both, and a screen that had other
// content before the live one was assigned to it (a restore), must be the same screen then and
// after every further piece of the line.
TEST(ScreenCopy, AFollowerStartedFromACopyEqualsOneSeededFromCommands) {
    std::mt19937 rng(20261208);
    for (int round = 0; round < 400; ++round) {
        const std::string stream = RandomStream(rng, 60);
        const std::string_view head =
            std::string_view(stream).substr(0, rng() % (stream.size() + 1));
        CTerminalScreen live;
        FeedInPieces(rng, head, live);
        const ScreenState liveBefore = StateOf(live);

        CTerminalScreen copied(live);
        copied.ProcessReceived();
        CTerminalScreen seeded;
        seeded.ReceiveBytes(CScreenCommands::Of(live));
        seeded.ProcessReceived();
        CTerminalScreen assigned;
        FeedInPieces(rng, RandomStream(rng, 20), assigned);
        assigned = live;
        assigned.ProcessReceived();
        ASSERT_EQ(StateOf(live), liveBefore) << "copying changed the source";
        ExpectSame(copied, seeded, head);
        ExpectSame(assigned, seeded, head);

        std::string_view tail = std::string_view(stream).substr(head.size());
        while (!tail.empty()) {
            const std::size_t piece = std::min<std::size_t>(tail.size(), 1 + rng() % 20);
            for (CTerminalScreen* screen : {&copied, &seeded, &assigned}) {
                screen->ReceiveBytes(tail.substr(0, piece));
                screen->ProcessReceived();
            }
            tail.remove_prefix(piece);
            ExpectSame(copied, seeded, stream.substr(0, stream.size() - tail.size()));
            ExpectSame(assigned, seeded, stream.substr(0, stream.size() - tail.size()));
        }
    }
}

// Equality must see every part of the state, or a follower that went astray would pass.
TEST(ScreenCopy, ScreensThatDifferInAnyOnePartAreNotEqual) {
    const std::vector<std::string> differences = {
        "x", At(3, 4), Esc("`;"), Esc("Fstatus\r"), Esc("flabel\r"), Esc("a1"),
    };
    for (const std::string& bytes : differences) {
        CTerminalScreen a;
        CTerminalScreen b(a);
        b.ReceiveBytes(bytes);
        b.ProcessReceived();
        EXPECT_FALSE(a == b) << Printable(bytes);
    }
}

} // namespace
