#include "CExportText.h"

#include <algorithm>

std::string_view CExportText::UpToNul(std::string_view row) {
    return row.substr(0, row.find('\0'));
}

std::string CExportText::FileText(std::span<const std::string> rows) {
    std::string text;
    for (const std::string& row : rows) {
        for (const char ch : UpToNul(row)) {
            if (ch == '\n')
                text += '\r';
            text += ch;
        }
        text += "\r\n";
    }
    return text;
}

std::string CExportText::ClipboardText(std::span<const std::string> rows) {
    std::string text;
    text.reserve(rows.size() * kClipboardRowAllowance);
    for (const std::string& row : rows) {
        const std::string_view shown = UpToNul(row).substr(0, kClipboardRowLimit);
        text += ' ';
        text.append(kClipboardMinWidth - std::min(shown.size(), kClipboardMinWidth), ' ');
        text += shown;
        text += "\r\n";
    }
    return text;
}
