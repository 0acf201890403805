#pragma once

#include <string>
#include <string_view>

// The character each screen byte shows as, wherever the screen is shown (the window, the web
// view): exactly one character per byte, so the 132 columns of a row stay aligned in a
// fixed-width font. Bytes 0x20-0xFF are the Windows-1252 characters the statistics computer
// means; control bytes get a visible one-column glyph (the classic terminal pictures) instead of
// moving or breaking the line.
class CDisplayChars {
public:
    static char16_t Of(unsigned char byte);
    static std::u16string Text(std::string_view bytes);
};
