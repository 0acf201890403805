#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

// The text forms in which the export commands hand the displayed rows on. Rows are 8-bit byte
// strings; only the bytes before a row's first NUL count.
class CExportText {
public:
    // Room for one clipboard line, CR LF included. One byte of it stays free so the whole
    // text, plus a terminating NUL, always fits in this many bytes per row.
    static constexpr std::size_t kClipboardRowAllowance = 256;
    // Longest row part of a clipboard line: the allowance less the leading space, CR LF and
    // the terminating NUL. Longer rows are cut there (screen rows hold 132 bytes).
    static constexpr std::size_t kClipboardRowLimit = kClipboardRowAllowance - 4;
    // Clipboard rows are right-aligned in at least this many columns.
    static constexpr std::size_t kClipboardMinWidth = 4;

    // The file that Save File and Print write: every row followed by CR LF, and every LF inside
    // a row written as CR LF.
    static std::string FileText(std::span<const std::string> rows);
    // The clipboard text: for every row a space, the row padded on the left with spaces to at
    // least four characters, and CR LF.
    static std::string ClipboardText(std::span<const std::string> rows);
};
