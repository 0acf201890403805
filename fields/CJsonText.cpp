#include "CJsonText.h"

namespace {

bool IsControl(char16_t c) {
    return c < 0x20 || (c >= 0x7f && c <= 0x9f) || c == 0x2028 || c == 0x2029;
}

const char* ShortEscape(char16_t c) {
    switch (c) {
    case '"':
        return "\\\"";
    case '\\':
        return "\\\\";
    case '\b':
        return "\\b";
    case '\f':
        return "\\f";
    case '\n':
        return "\\n";
    case '\r':
        return "\\r";
    case '\t':
        return "\\t";
    default:
        return nullptr;
    }
}

} // namespace

QByteArray CJsonText::String(QStringView text) {
    QByteArray out = "\"";
    qsizetype plain = 0; // start of the run of characters written as they are
    const auto flush = [&](qsizetype end) { out += text.mid(plain, end - plain).toUtf8(); };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        const char* escape = ShortEscape(c);
        if (!escape && !IsControl(c))
            continue;
        flush(i);
        plain = i + 1;
        out += escape ? QByteArray(escape)
                      : QByteArray("\\u") + QByteArray::number(c, 16).rightJustified(4, '0');
    }
    flush(text.size());
    return out + '"';
}

QString CJsonText::Quoted(QStringView text) {
    return QString::fromUtf8(String(text));
}

QByteArray CJsonText::Object(const Members& members) {
    QByteArray out = "{";
    for (const auto& [name, value] : members) {
        if (out.size() > 1)
            out += ',';
        out += String(name) + ':' + value;
    }
    return out + '}';
}

QByteArray CJsonText::Array(const std::vector<QByteArray>& values) {
    QByteArray out = "[";
    for (const QByteArray& value : values) {
        if (out.size() > 1)
            out += ',';
        out += value;
    }
    return out + ']';
}

QByteArray CJsonText::Bool(bool value) {
    return value ? QByteArrayLiteral("true") : QByteArrayLiteral("false");
}
