#pragma once

#include <QString>
#include <optional>
#include <string>
#include <string_view>

// Text of screen bytes as the window shows it: exactly one character per byte, so the 132
// columns of a row stay aligned in a fixed-width font. Bytes 0x20-0xFF are the Windows-1252
// characters the statistics computer means; control bytes get a visible one-column glyph
// (the classic terminal pictures) instead of moving or breaking the line.
QString DisplayText(std::string_view bytes);

// The bytes whose display text this is (typed text to look for on the screen); nullopt when a
// character is not one that a byte shows as.
std::optional<std::string> DisplayBytes(const QString& text);
