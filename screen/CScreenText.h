#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// How the screen reads as text: the rules the window's refresh and the replay tool share, so
// both show the same rows, cut at the same NUL, with the same cursor field.
class CScreenText {
public:
    // Blank: the first byte is not NUL and every byte before the first NUL is white space.
    static bool IsBlankRow(std::string_view row);
    // How many rows remain once the trailing blank rows are dropped.
    static std::size_t ShownRowCount(const std::vector<std::string>& rows);
    // The part of a row a list item shows: up to its first NUL.
    static std::string_view UpToNul(std::string_view row);
    // The cursor field: 1-based row and column, "%3.3d-%3.3d"; takes the 0-based cursor.
    static std::string CursorText(int row, int col);
};
