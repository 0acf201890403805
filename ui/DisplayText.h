#pragma once

#include <QString>
#include <string_view>

// Text of screen bytes as the window shows it: exactly one character per byte, so the 132
// columns of a row stay aligned in a fixed-width font. Bytes 0x20-0xFF are the Windows-1252
// characters the statistics computer means; control bytes get a visible one-column glyph
// (the classic terminal pictures) instead of moving or breaking the line.
QString DisplayText(std::string_view bytes);
