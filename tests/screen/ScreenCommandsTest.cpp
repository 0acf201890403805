#include "CScreenCommands.h"
#include "ScreenTestSupport.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using namespace std::string_literals;

// The source receives `head`; a fresh screen receives the source's commands. Both must be
// equal, and stay equal when both then receive `tail` (a journal file that begins mid-stream).
void ExpectRoundTrip(std::string_view head, std::string_view tail) {
    CTerminalScreen source;
    source.ReceiveBytes(head);
    source.ProcessReceived();
    CTerminalScreen copy;
    copy.ReceiveBytes(CScreenCommands::Of(source));
    copy.ProcessReceived();
    ASSERT_EQ(StateOf(copy), StateOf(source)) << Printable(head);
    source.ReceiveBytes(tail);
    source.ProcessReceived();
    copy.ReceiveBytes(tail);
    copy.ProcessReceived();
    ASSERT_EQ(StateOf(copy), StateOf(source)) << Printable(head) << " | " << Printable(tail);
}

// Each is cut at every position, so each incomplete sequence is carried as the pending bytes.
const std::vector<std::string> kStreams = {
    AllByteValues() + At(41, 125) + AllByteValues(),
    Esc("`;") + At(3, 90) + "\r\n\0wide"s + Esc("a42R132C") + "Z",
    Esc("`;") + std::string(100, 'w') + Esc("`:") + "narrow",
    Esc("F  Home 12  \r") + Esc("fa\x1b\0b\r"s) + Esc("F \r") + "text",
    Esc("F status\r") + Esc("f\t\r") + Esc("a1234567890") + Esc(Esc("=")) + "!",
    Esc("a5R1234C") + Esc("aC") + "R5C" + Esc("a1\0R1Cxyzw"s) + Esc("c123") + Esc("e") + "G",
    std::string(42 * 132, ' ') + Esc("T") + "   x   " + Esc("+") + "after clear",
};

TEST(ScreenCommands, ReproduceTheStateAtEveryCutOfKnownStreams) {
    for (const std::string& stream : kStreams)
        for (std::size_t cut = 0; cut <= stream.size(); ++cut)
            ExpectRoundTrip(std::string_view(stream).substr(0, cut),
                            std::string_view(stream).substr(cut));
}

// A screen left in the middle of any sequence (every cut of the streams) takes another
// screen's commands exactly once they follow EndPending.
TEST(ScreenCommands, EndPendingLetsCommandsLandOnAScreenMidSequence) {
    CTerminalScreen target;
    target.ReceiveBytes(Esc("`;") + At(2, 100) + "target" + Esc("Fst\r") + Esc("a4"));
    target.ProcessReceived();
    const std::string commands = CScreenCommands::EndPending() + CScreenCommands::Of(target);
    for (const std::string& stream : kStreams)
        for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
            CTerminalScreen screen;
            screen.ReceiveBytes(std::string_view(stream).substr(0, cut));
            screen.ProcessReceived();
            screen.ReceiveBytes(commands);
            screen.ProcessReceived();
            ASSERT_EQ(StateOf(screen), StateOf(target)) << Printable(stream.substr(0, cut));
        }
}

TEST(ScreenCommands, EmptyMessagesAreWrittenSoTheyEmptyAnOldText) {
    CTerminalScreen source;
    CTerminalScreen target;
    target.ReceiveBytes(Esc("Fold status\r") + Esc("fold label\r"));
    target.ReceiveBytes(CScreenCommands::Of(source));
    target.ProcessReceived();
    EXPECT_EQ(StateOf(target), StateOf(source));
}

TEST(ScreenCommands, ReproduceTheStateOfRandomStreamsAtRandomCuts) {
    std::mt19937 rng(20261207);
    for (int round = 0; round < 400; ++round) {
        const std::string stream = RandomStream(rng, 60);
        const std::size_t cut = rng() % (stream.size() + 1);
        ExpectRoundTrip(std::string_view(stream).substr(0, cut),
                        std::string_view(stream).substr(cut));
    }
}

} // namespace
