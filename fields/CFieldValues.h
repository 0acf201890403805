#pragma once

#include "CFieldDefinitions.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

class CTerminalScreen;

// The values of the definitions on the screen, kept across pages: a field whose page is not
// shown keeps its last value and reads as not current.
class CFieldValues {
public:
    using Row = std::map<QString, QString>;

    explicit CFieldValues(CFieldDefinitions definitions);

    static constexpr std::uint64_t kAllRows = ~std::uint64_t{0};

    // Reads every field and table that reads one of `changedRows` (bit r-1 for row r) and whose
    // page is shown; true when a value or a current flag changed.
    bool Update(const CTerminalScreen& screen, std::uint64_t changedRows = kAllRows);
    const CFieldDefinitions& Definitions() const { return m_definitions; }
    // The last value; empty before the first read.
    QString Field(const QString& name) const;
    // The rows of the block (column name -> value); empty strings before the first read.
    std::vector<Row> Table(const QString& name) const;
    bool IsCurrent(const QString& name) const;
    // The cells column..column+width-1 of a row (1-based) as a `when` compares them: as the
    // window shows them, padded with spaces to width.
    // The field's value on the screen, when its `when` holds there.
    static std::optional<QString> FieldOn(const CFieldDefinitions::Field& field,
                                          const CTerminalScreen& screen);
    static QString ShownText(const CTerminalScreen& screen, int row, int column, int width);
    // {"fields": {NAME: VALUE}, "tables": {NAME: [{COLUMN: VALUE}...]}, "current": {NAME: bool},
    // "labels": {NAME: LABEL}}, compact UTF-8, every object in the definitions' order.
    QByteArray ToJson() const;

private:
    struct Entry {
        QString m_value;
        std::vector<Row> m_rows;
        bool m_current = false;
        bool operator==(const Entry&) const = default;
    };

    CFieldDefinitions m_definitions;
    std::map<QString, Entry> m_entries;
};
