#include "CExportText.h"

#include "CScreenText.h"

#include <algorithm>

std::string CExportText::FileText(std::span<const std::string> rows) {
    std::string text;
    for (const std::string& row : rows) {
        for (const char ch : CScreenText::UpToNul(row)) {
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
        const std::string_view shown = CScreenText::UpToNul(row).substr(0, kClipboardRowLimit);
        text += ' ';
        text.append(kClipboardMinWidth - std::min(shown.size(), kClipboardMinWidth), ' ');
        text += shown;
        text += "\r\n";
    }
    return text;
}
