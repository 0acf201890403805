#include "DisplayText.h"

#include "CDisplayChars.h"

#include <QHash>

QString DisplayText(std::string_view bytes) {
    return QString::fromStdU16String(CDisplayChars::Text(bytes));
}

std::optional<std::string> DisplayBytes(const QString& text) {
    static const QHash<QChar, char> bytes = [] {
        QHash<QChar, char> table;
        for (int b = 0; b < 256; ++b)
            table.insert(QChar(CDisplayChars::Of(static_cast<unsigned char>(b))),
                         static_cast<char>(b));
        return table;
    }();
    std::string out;
    for (const QChar c : text) {
        const auto found = bytes.constFind(c);
        if (found == bytes.constEnd())
            return std::nullopt;
        out += *found;
    }
    return out;
}
