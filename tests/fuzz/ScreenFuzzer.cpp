// libFuzzer target: any byte stream, drained at points the input chooses, must keep the
// screen's invariants and give exactly the state of one drain; the screen written as commands
// must rebuild that state in a fresh screen.
#include "CScreenCommands.h"
#include "FuzzCheck.h"
#include "ScreenTestSupport.h"

#include <cstdint>

namespace {

void CheckInvariants(const ScreenState& state) {
    Check(state.rows.size() == CTerminalScreen::kRows);
    for (const std::string& row : state.rows)
        Check(row.size() == CTerminalScreen::kCols);
    Check(state.row >= 0 && state.row < CTerminalScreen::kRows);
    Check(state.col >= 0 && state.col < (state.wide ? CTerminalScreen::kCols : 80));
    Check(state.pending.size() <= CTerminalScreen::kMaxMessage + 1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    // The first byte sets the drain spacing, the rest is the line's stream.
    const std::size_t every = 1 + data[0] % 64;
    const std::string_view stream(reinterpret_cast<const char*>(data + 1), size - 1);
    std::vector<std::size_t> cuts;
    for (std::size_t cut = every; cut < stream.size(); cut += every)
        cuts.push_back(cut);
    const ScreenState split = FeedSplit(stream, cuts);
    CheckInvariants(split);
    Check(split == FeedWhole(stream));
    CTerminalScreen source;
    source.ReceiveBytes(stream);
    source.ProcessReceived();
    CTerminalScreen copy;
    copy.ReceiveBytes(CScreenCommands::Of(source));
    copy.ProcessReceived();
    Check(StateOf(copy) == StateOf(source) && copy.PendingBytes() == source.PendingBytes());
    return 0;
}
