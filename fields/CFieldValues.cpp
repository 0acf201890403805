#include "CFieldValues.h"

#include "CDisplayChars.h"
#include "CJsonText.h"
#include "CScreenText.h"
#include "CTerminalScreen.h"

namespace {

// The cells column..column+width-1 (1-based) of a row as far as the window shows them: the
// row is cut at its first NUL, and the cells past it read as spaces.
std::string_view Shown(const std::string& row, int column, std::size_t width) {
    const std::string_view shown = CScreenText::UpToNul(row);
    const std::size_t first = std::size_t(column - 1);
    return first < shown.size() ? shown.substr(first, width) : std::string_view();
}

// Those cells with the spaces around the text removed.
QString Cells(const std::string& row, int column, int width) {
    const std::string_view part = Shown(row, column, std::size_t(width));
    const std::size_t begin = part.find_first_not_of(' ');
    if (begin == std::string_view::npos)
        return {};
    const std::size_t end = part.find_last_not_of(' ');
    return QString::fromStdU16String(CDisplayChars::Text(part.substr(begin, end - begin + 1)));
}

bool Holds(const std::optional<CFieldDefinitions::When>& when, const CTerminalScreen& screen) {
    return !when || CFieldValues::ShownText(screen, when->m_row, when->m_column,
                                            int(when->m_text.size())) == when->m_text;
}

QByteArray RowsJson(const CFieldDefinitions::Table& table,
                    const std::vector<CFieldValues::Row>& rows) {
    std::vector<QByteArray> array;
    for (const CFieldValues::Row& row : rows) {
        CJsonText::Members object;
        for (const CFieldDefinitions::Column& column : table.m_columns)
            object.emplace_back(column.m_name, CJsonText::String(row.at(column.m_name)));
        array.push_back(CJsonText::Object(object));
    }
    return CJsonText::Array(array);
}

} // namespace

QString CFieldValues::ShownText(const CTerminalScreen& screen, int row, int column, int width) {
    const std::string_view part =
        Shown(screen.Rows()[std::size_t(row - 1)], column, std::size_t(width));
    return QString::fromStdU16String(CDisplayChars::Text(part)) +
           QString(qsizetype(std::size_t(width) - part.size()), QLatin1Char(' '));
}

std::optional<QString> CFieldValues::FieldOn(const CFieldDefinitions::Field& field,
                                             const CTerminalScreen& screen) {
    if (!Holds(field.m_when, screen))
        return std::nullopt;
    QStringList lines;
    for (int r = field.m_row; r < field.m_row + field.m_height; ++r)
        lines << Cells(screen.Rows()[std::size_t(r - 1)], field.m_column, field.m_width);
    return lines.join(QLatin1Char('\n'));
}

CFieldValues::CFieldValues(CFieldDefinitions definitions) : m_definitions(std::move(definitions)) {
    for (const CFieldDefinitions::Table& table : m_definitions.m_tables) {
        Row blank;
        for (const CFieldDefinitions::Column& column : table.m_columns)
            blank[column.m_name] = QString();
        m_entries[table.m_name].m_rows.assign(std::size_t(table.m_lastRow - table.m_firstRow + 1),
                                              blank);
    }
    for (const CFieldDefinitions::Field& field : m_definitions.m_fields)
        m_entries[field.m_name];
}

bool CFieldValues::Update(const CTerminalScreen& screen, std::uint64_t changedRows) {
    const std::vector<std::string>& rows = screen.Rows();
    bool changed = false;
    const auto store = [&](const QString& name, Entry entry) {
        Entry& old = m_entries[name];
        changed = changed || !(old == entry);
        old = std::move(entry);
    };
    for (const CFieldDefinitions::Field& field : m_definitions.m_fields) {
        if ((field.ReadRows() & changedRows) == 0)
            continue;
        Entry entry = m_entries[field.m_name];
        std::optional<QString> value = FieldOn(field, screen);
        entry.m_current = value.has_value();
        if (value)
            entry.m_value = std::move(*value);
        store(field.m_name, std::move(entry));
    }
    for (const CFieldDefinitions::Table& table : m_definitions.m_tables) {
        if ((table.ReadRows() & changedRows) == 0)
            continue;
        Entry entry = m_entries[table.m_name];
        entry.m_current = Holds(table.m_when, screen);
        for (int r = table.m_firstRow; entry.m_current && r <= table.m_lastRow; ++r) {
            Row& row = entry.m_rows[std::size_t(r - table.m_firstRow)];
            for (const CFieldDefinitions::Column& column : table.m_columns)
                row[column.m_name] =
                    Cells(rows[std::size_t(r - 1)], column.m_column, column.m_width);
        }
        store(table.m_name, std::move(entry));
    }
    return changed;
}

QString CFieldValues::Field(const QString& name) const {
    const auto found = m_entries.find(name);
    return found == m_entries.end() ? QString() : found->second.m_value;
}

std::vector<CFieldValues::Row> CFieldValues::Table(const QString& name) const {
    const auto found = m_entries.find(name);
    return found == m_entries.end() ? std::vector<Row>() : found->second.m_rows;
}

bool CFieldValues::IsCurrent(const QString& name) const {
    const auto found = m_entries.find(name);
    return found != m_entries.end() && found->second.m_current;
}

QByteArray CFieldValues::ToJson() const {
    CJsonText::Members fields;
    CJsonText::Members tables;
    CJsonText::Members current;
    CJsonText::Members labels;
    for (const CFieldDefinitions::Field& field : m_definitions.m_fields) {
        fields.emplace_back(field.m_name, CJsonText::String(Field(field.m_name)));
        current.emplace_back(field.m_name, CJsonText::Bool(IsCurrent(field.m_name)));
        labels.emplace_back(field.m_name, CJsonText::String(field.Label()));
    }
    for (const CFieldDefinitions::Table& table : m_definitions.m_tables) {
        tables.emplace_back(table.m_name, RowsJson(table, Table(table.m_name)));
        current.emplace_back(table.m_name, CJsonText::Bool(IsCurrent(table.m_name)));
        labels.emplace_back(table.m_name, CJsonText::String(table.Label()));
    }
    return CJsonText::Object({{QStringLiteral("fields"), CJsonText::Object(fields)},
                              {QStringLiteral("tables"), CJsonText::Object(tables)},
                              {QStringLiteral("current"), CJsonText::Object(current)},
                              {QStringLiteral("labels"), CJsonText::Object(labels)}});
}
