#include "CScreenText.h"

#include <algorithm>
#include <cstdio>

namespace {

bool IsWhiteSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

} // namespace

bool CScreenText::IsBlankRow(std::string_view row) {
    if (!row.empty() && row.front() == '\0')
        return false;
    const std::string_view shown = UpToNul(row);
    return std::all_of(shown.begin(), shown.end(), IsWhiteSpace);
}

std::size_t CScreenText::ShownRowCount(const std::vector<std::string>& rows) {
    std::size_t count = rows.size();
    while (count > 0 && IsBlankRow(rows[count - 1]))
        --count;
    return count;
}

std::string_view CScreenText::UpToNul(std::string_view row) {
    return row.substr(0, row.find('\0'));
}

std::string CScreenText::CursorText(int row, int col) {
    char text[32];
    std::snprintf(text, sizeof text, "%3.3d-%3.3d", row + 1, col + 1);
    return text;
}
