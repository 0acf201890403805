#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <utility>
#include <vector>

// JSON written member by member, so that objects keep the order they are given in (the fields
// file's order), and text quoted so that no character in it can break a line or cut a message.
class CJsonText {
public:
    using Members = std::vector<std::pair<QString, QByteArray>>;

    // "text" as a JSON string, UTF-8: quotes and backslashes escaped, and every control
    // character (C0, DEL, C1, the line and paragraph separators) as \n, \t... or \uXXXX.
    static QByteArray String(QStringView text);
    // The same, for a message.
    static QString Quoted(QStringView text);
    // {"NAME": VALUE, ...} in the given order; each value is JSON already.
    static QByteArray Object(const Members& members);
    // [VALUE, ...]; each value is JSON already.
    static QByteArray Array(const std::vector<QByteArray>& values);
    static QByteArray Bool(bool value);
};
