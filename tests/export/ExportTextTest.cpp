#include "CExportText.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace std::string_literals;

namespace {

// A full screen row: 132 bytes, no NUL and no LF, different for every index.
std::string FullRow(int index) {
    std::string row(132, ' ');
    for (std::size_t i = 0; i < row.size(); ++i)
        row[i] = static_cast<char>('!' + (index * 7 + static_cast<int>(i)) % 94);
    return row;
}

std::vector<std::string> SplitCrLf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    EXPECT_EQ(start, text.size()) << "text after the last CR LF";
    return lines;
}

} // namespace

TEST(ExportFileText, FullRowsBecomeCrLfLines) {
    const std::vector<std::string> rows{FullRow(0), FullRow(1), FullRow(2)};
    const std::string text = CExportText::FileText(rows);
    EXPECT_EQ(text.size(), 3u * 134);
    EXPECT_EQ(SplitCrLf(text), rows);
}

TEST(ExportFileText, RowBytes) {
    struct Case {
        const char* name;
        std::string row;
        std::string written;
    };
    const std::vector<Case> cases{
        {"LF inside a row becomes CR LF", "ab\ncd", "ab\r\ncd\r\n"},
        {"LF at both ends", "\nx\n", "\r\nx\r\n\r\n"},
        {"NUL cuts the row", "abc\0def"s, "abc\r\n"},
        {"leading NUL leaves an empty line", "\0abc"s, "\r\n"},
        {"LF after the NUL is not written", "ab\0\n"s, "ab\r\n"},
        {"lone CR and 8-bit bytes unchanged", "a\rb\xe9\xff", "a\rb\xe9\xff\r\n"},
        {"empty row", "", "\r\n"},
        {"trailing spaces kept", "ab   ", "ab   \r\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CExportText::FileText(std::vector{c.row}), c.written) << c.name;
}

TEST(ExportFileText, NoRowsNoBytes) {
    EXPECT_EQ(CExportText::FileText({}), "");
}

TEST(ExportClipboardText, FullRowsGive135ByteLines) {
    const std::vector<std::string> rows{FullRow(0), FullRow(1), FullRow(2)};
    const std::vector<std::string> lines = SplitCrLf(CExportText::ClipboardText(rows));
    ASSERT_EQ(lines.size(), 3u);
    for (std::size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ(lines[i] + "\r\n", " " + rows[i] + "\r\n") << "line " << i;
    EXPECT_EQ(CExportText::ClipboardText(rows).size(), 3u * 135);
}

TEST(ExportClipboardText, RowBytes) {
    struct Case {
        const char* name;
        std::string row;
        std::string line;
    };
    const std::vector<Case> cases{
        {"short row padded on the left to four", "ab", "   ab\r\n"},
        {"four bytes need no padding", "abcd", " abcd\r\n"},
        {"empty row is four spaces", "", "     \r\n"},
        {"NUL cuts before padding", "a\0bcdef"s, "    a\r\n"},
        {"LF and 8-bit bytes kept as they are", "a\nb\xe9", " a\nb\xe9\r\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CExportText::ClipboardText(std::vector{c.row}), c.line) << c.name;
}

TEST(ExportClipboardText, NoRowsNoText) {
    EXPECT_EQ(CExportText::ClipboardText({}), "");
}

// Whatever the rows hold, every line and the whole text stay within the allowance per row,
// with a byte to spare for a terminating NUL.
TEST(ExportClipboardText, NeverExceedsTheRowAllowance) {
    const std::size_t limit = CExportText::kClipboardRowLimit;
    for (const std::size_t length :
         {limit - 1, limit, limit + 1, std::size_t{1000}, std::size_t{70000}}) {
        const std::vector<std::string> rows(5, std::string(length, 'x'));
        const std::string text = CExportText::ClipboardText(rows);
        EXPECT_LT(text.size(), rows.size() * CExportText::kClipboardRowAllowance) << length;
        for (const std::string& line : SplitCrLf(text)) {
            EXPECT_LE(line.size() + 2, CExportText::kClipboardRowAllowance - 1) << length;
            EXPECT_EQ(line, " " + std::string(std::min(length, limit), 'x')) << length;
        }
    }
}
