#include "CScreenCommands.h"

#include <string_view>

namespace {

constexpr char kEsc = CTerminalScreen::kEsc;

void AppendAddress(std::string& out, int row, int col) {
    out += kEsc;
    out += 'a';
    out += std::to_string(row + 1);
    out += 'R';
    out += std::to_string(col + 1);
    out += 'C';
}

// The row's non-blank runs, each behind its own address; blanks come from the clear.
void AppendRow(std::string& out, int row, std::string_view text) {
    std::size_t from = 0;
    while (from < text.size()) {
        std::size_t end = text.find(kEsc, from);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view run = text.substr(from, end - from);
        const std::size_t first = run.find_first_not_of(' ');
        if (first != std::string_view::npos) {
            const std::size_t last = run.find_last_not_of(' ');
            AppendAddress(out, row, static_cast<int>(from + first));
            out.append(run.substr(first, last - first + 1));
        }
        from = end + 1;
    }
}

void AppendMessage(std::string& out, char letter, const std::string& text) {
    out += kEsc;
    out += letter;
    out += text.empty() ? std::string(" ") : text; // a lone CR would keep the old text
    out += '\r';
}

} // namespace

std::string CScreenCommands::Of(const CTerminalScreen& screen) {
    std::string out = "\x1b+\x1b`;";
    const auto& rows = screen.Rows();
    for (int r = 0; r < CTerminalScreen::kRows; ++r)
        AppendRow(out, r, rows[static_cast<std::size_t>(r)]);
    AppendMessage(out, 'F', screen.StatusText());
    AppendMessage(out, 'f', screen.LabelText());
    if (!screen.Wide())
        out += "\x1b`:";
    AppendAddress(out, screen.Row(), screen.Col());
    out += screen.PendingBytes();
    return out;
}

std::string CScreenCommands::EndPending() {
    // The longest sequence, a decimal cursor address, is decided by 11 bytes from its ESC.
    std::string bytes(11, ' ');
    bytes.front() = '\r';
    return bytes;
}
