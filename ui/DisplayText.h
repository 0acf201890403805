#pragma once

#include <QString>
#include <optional>
#include <string>
#include <string_view>

// Text of screen bytes as the window shows it, one character per byte (see CDisplayChars).
QString DisplayText(std::string_view bytes);

// The bytes whose display text this is (typed text to look for on the screen); nullopt when a
// character is not one that a byte shows as.
std::optional<std::string> DisplayBytes(const QString& text);
