#include "CFieldDefinitions.h"

#include "CJsonText.h"
#include "CSettingsFile.h"
#include "CTerminalScreen.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <cmath>

namespace {

constexpr int kRows = CTerminalScreen::kRows;
constexpr int kColumns = CTerminalScreen::kCols;
constexpr int kVersion = 1;

// A problem found while reading: the entry it is in and what is wrong.
struct ReadError {
    QString m_text;
};

QString Quoted(const QString& name) {
    return CFieldDefinitions::Quoted(name);
}

// `field "score"` once the entry has a name, `fields[3]` before.
QString EntryName(const char* kind, const char* list, qsizetype index, const QString& name) {
    return name.isEmpty() ? QStringLiteral("%1[%2]").arg(QLatin1String(list)).arg(index)
                          : QStringLiteral("%1 %2").arg(QLatin1String(kind), Quoted(name));
}

[[noreturn]] void Fail(const QString& entry, const QString& what) {
    throw ReadError{entry + QStringLiteral(": ") + what};
}

int WholeNumber(const QJsonObject& object, const char* key, const QString& entry,
                std::optional<int> fallback = std::nullopt) {
    const QJsonValue value = object.value(QLatin1String(key));
    if (value.isUndefined() && fallback)
        return *fallback;
    const double number = value.toDouble(std::nan(""));
    if (!value.isDouble() || std::floor(number) != number || std::abs(number) > 1e6)
        Fail(entry, QStringLiteral("\"%1\" is not a whole number").arg(QLatin1String(key)));
    return static_cast<int>(number);
}

QString Text(const QJsonObject& object, const char* key, const QString& entry) {
    const QJsonValue value = object.value(QLatin1String(key));
    if (!value.isString())
        Fail(entry, QStringLiteral("\"%1\" is not a text").arg(QLatin1String(key)));
    return value.toString();
}

QJsonObject Object(const QJsonValue& value, const QString& entry) {
    if (!value.isObject())
        Fail(entry, QStringLiteral("is not an object"));
    return value.toObject();
}

QJsonArray Array(const QJsonObject& object, const char* key, const QString& entry) {
    const QJsonValue value = object.value(QLatin1String(key));
    if (value.isUndefined())
        return {};
    if (!value.isArray())
        Fail(entry, QStringLiteral("\"%1\" is not a list").arg(QLatin1String(key)));
    return value.toArray();
}

// The object's members other than `known`, to be written back as they are.
QJsonObject Unknown(QJsonObject object, std::initializer_list<const char*> known) {
    for (const char* key : known)
        object.remove(QLatin1String(key));
    return object;
}

QString ReadLabel(const QJsonObject& object, const QString& entry) {
    if (!object.contains(QLatin1String("label")))
        return {};
    const QString label = Text(object, "label", entry);
    if (label.isEmpty())
        Fail(entry, QStringLiteral("\"label\" is empty"));
    return label;
}

std::optional<CFieldDefinitions::When> ReadWhen(const QJsonObject& object, const QString& entry) {
    if (!object.contains(QLatin1String("when")))
        return std::nullopt;
    const QString whenEntry = entry + QStringLiteral(" when");
    const QJsonObject when = Object(object.value(QLatin1String("when")), whenEntry);
    return CFieldDefinitions::When{WholeNumber(when, "row", whenEntry),
                                   WholeNumber(when, "column", whenEntry),
                                   Text(when, "text", whenEntry)};
}

CFieldDefinitions::Field ReadField(const QJsonValue& value, qsizetype index) {
    QString entry = EntryName("field", "fields", index, {});
    const QJsonObject object = Object(value, entry);
    CFieldDefinitions::Field field;
    field.m_name = Text(object, "name", entry);
    entry = EntryName("field", "fields", index, field.m_name);
    field.m_row = WholeNumber(object, "row", entry);
    field.m_column = WholeNumber(object, "column", entry);
    field.m_width = WholeNumber(object, "width", entry);
    field.m_height = WholeNumber(object, "height", entry, 1);
    field.m_when = ReadWhen(object, entry);
    field.m_label = ReadLabel(object, entry);
    field.m_unknown =
        Unknown(object, {"name", "row", "column", "width", "height", "when", "label"});
    return field;
}

CFieldDefinitions::Table ReadTable(const QJsonValue& value, qsizetype index) {
    QString entry = EntryName("table", "tables", index, {});
    const QJsonObject object = Object(value, entry);
    CFieldDefinitions::Table table;
    table.m_name = Text(object, "name", entry);
    entry = EntryName("table", "tables", index, table.m_name);
    table.m_firstRow = WholeNumber(object, "first_row", entry);
    table.m_lastRow = WholeNumber(object, "last_row", entry);
    const QJsonArray columns = Array(object, "columns", entry);
    for (qsizetype i = 0; i < columns.size(); ++i) {
        QString columnEntry = entry + QStringLiteral(" columns[%1]").arg(i);
        const QJsonObject column = Object(columns[i], columnEntry);
        const QString name = Text(column, "name", columnEntry);
        columnEntry = entry + QStringLiteral(" column ") + Quoted(name);
        table.m_columns.push_back({name, WholeNumber(column, "column", columnEntry),
                                   WholeNumber(column, "width", columnEntry),
                                   Unknown(column, {"name", "column", "width"})});
    }
    table.m_when = ReadWhen(object, entry);
    table.m_label = ReadLabel(object, entry);
    table.m_unknown =
        Unknown(object, {"name", "first_row", "last_row", "columns", "when", "label"});
    return table;
}

std::optional<CFieldDefinitions::Story> ReadStory(const QJsonObject& root) {
    if (!root.contains(QLatin1String("story")))
        return std::nullopt;
    const QString entry = QStringLiteral("story");
    const QJsonObject object = Object(root.value(QLatin1String("story")), entry);
    const auto optional = [&](const char* key) {
        return object.contains(QLatin1String(key)) ? Text(object, key, entry) : QString();
    };
    return CFieldDefinitions::Story{
        .m_home = Text(object, "home", entry),
        .m_visitor = Text(object, "visitor", entry),
        .m_homeLabel = optional("home_label"),
        .m_visitorLabel = optional("visitor_label"),
        .m_period = optional("period"),
        .m_clock = optional("clock"),
        .m_unknown =
            Unknown(object, {"home", "visitor", "home_label", "visitor_label", "period", "clock"})};
}

CFieldDefinitions FromJson(const QByteArray& json) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError)
        Fail(QStringLiteral("at byte %1").arg(error.offset), error.errorString());
    if (!document.isObject())
        Fail(QStringLiteral("the file"), QStringLiteral("is not a JSON object"));
    const QJsonObject root = document.object();
    if (WholeNumber(root, "version", QStringLiteral("the file")) != kVersion)
        Fail(QStringLiteral("the file"), QStringLiteral("\"version\" is not %1").arg(kVersion));
    CFieldDefinitions definitions;
    const QJsonArray fields = Array(root, "fields", QStringLiteral("the file"));
    for (qsizetype i = 0; i < fields.size(); ++i)
        definitions.m_fields.push_back(ReadField(fields[i], i));
    const QJsonArray tables = Array(root, "tables", QStringLiteral("the file"));
    for (qsizetype i = 0; i < tables.size(); ++i)
        definitions.m_tables.push_back(ReadTable(tables[i], i));
    definitions.m_story = ReadStory(root);
    definitions.m_unknown = Unknown(root, {"version", "fields", "tables", "story"});
    return definitions;
}

// The rules of places and names, each broken rule worded as Read words its problems.
class CRules {
public:
    QString First(const CFieldDefinitions& definitions) {
        try {
            for (const CFieldDefinitions::Field& field : definitions.m_fields)
                Check(field);
            for (const CFieldDefinitions::Table& table : definitions.m_tables)
                Check(table);
            if (definitions.m_story)
                Check(*definitions.m_story, definitions);
        } catch (const ReadError& error) {
            return error.m_text;
        }
        return {};
    }

private:
    void Check(const CFieldDefinitions::Field& field) {
        const QString entry = QStringLiteral("field ") + Quoted(field.m_name);
        Name(field.m_name, entry);
        Span(field.m_row, field.m_height, kRows, entry, "row", "height");
        Span(field.m_column, field.m_width, kColumns, entry, "column", "width");
        When(field.m_when, entry);
        Label(field.m_label, entry);
    }

    void Check(const CFieldDefinitions::Table& table) {
        const QString entry = QStringLiteral("table ") + Quoted(table.m_name);
        Name(table.m_name, entry);
        Span(table.m_firstRow, 1, kRows, entry, "first_row", "height");
        Span(table.m_lastRow, 1, kRows, entry, "last_row", "height");
        if (table.m_lastRow < table.m_firstRow)
            Fail(entry, QStringLiteral("\"last_row\" is above \"first_row\""));
        if (table.m_columns.empty())
            Fail(entry, QStringLiteral("has no columns"));
        QSet<QString> columns;
        for (const CFieldDefinitions::Column& column : table.m_columns) {
            const QString columnEntry = entry + QStringLiteral(" column ") + Quoted(column.m_name);
            if (!CFieldDefinitions::IsValidName(column.m_name))
                Fail(columnEntry, NameRule());
            if (columns.contains(column.m_name))
                Fail(columnEntry, QStringLiteral("the name is used twice"));
            columns.insert(column.m_name);
            Span(column.m_column, column.m_width, kColumns, columnEntry, "column", "width");
        }
        When(table.m_when, entry);
        Label(table.m_label, entry);
    }

    static void Check(const CFieldDefinitions::Story& story, const CFieldDefinitions& definitions) {
        const QString entry = QStringLiteral("story");
        const auto names = [&](const char* key, const QString& name, bool optional) {
            if ((!optional || !name.isEmpty()) && !definitions.FieldOrCell(name))
                Fail(entry,
                     QStringLiteral("\"%1\" names no field or table cell").arg(QLatin1String(key)));
        };
        names("home", story.m_home, false);
        names("visitor", story.m_visitor, false);
        names("period", story.m_period, true);
        names("clock", story.m_clock, true);
        Label(story.m_homeLabel, entry);
        Label(story.m_visitorLabel, entry);
    }

    void Name(const QString& name, const QString& entry) {
        if (!CFieldDefinitions::IsValidName(name))
            Fail(entry, NameRule());
        if (m_names.contains(name))
            Fail(entry, QStringLiteral("the name is used twice"));
        m_names.insert(name);
    }

    static QString NameRule() {
        return QStringLiteral("a name is a small letter, then small letters, digits or \"_\"");
    }

    // first..first+size-1 within 1..limit.
    static void Span(int first, int size, int limit, const QString& entry, const char* where,
                     const char* extent) {
        if (first < 1 || first > limit)
            Fail(entry,
                 QStringLiteral("\"%1\" is not from 1 to %2").arg(QLatin1String(where)).arg(limit));
        if (size < 1 || first + size - 1 > limit)
            Fail(entry, QStringLiteral("\"%1\" %2 goes past %3 %4")
                            .arg(QLatin1String(extent))
                            .arg(size)
                            .arg(QLatin1String(limit == kRows ? "row" : "column"))
                            .arg(limit));
    }

    static void When(const std::optional<CFieldDefinitions::When>& when, const QString& entry) {
        if (!when)
            return;
        const QString whenEntry = entry + QStringLiteral(" when");
        if (when->m_text.isEmpty())
            Fail(whenEntry, QStringLiteral("\"text\" is empty"));
        // A lone surrogate could not be stored and read back.
        if (!QStringView(when->m_text).isValidUtf16())
            Fail(whenEntry, QStringLiteral("\"text\" is not valid text"));
        Span(when->m_row, 1, kRows, whenEntry, "row", "height");
        Span(when->m_column, int(when->m_text.size()), kColumns, whenEntry, "column", "text");
    }

    static void Label(const QString& label, const QString& entry) {
        if (label.size() > CFieldDefinitions::kMaxLabel)
            Fail(entry, QStringLiteral("\"label\" is longer than %1 characters")
                            .arg(CFieldDefinitions::kMaxLabel));
        if (!QStringView(label).isValidUtf16())
            Fail(entry, QStringLiteral("\"label\" is not valid text"));
    }

    QSet<QString> m_names;
};

QJsonObject WhenJson(const CFieldDefinitions::When& when) {
    return {{QStringLiteral("row"), when.m_row},
            {QStringLiteral("column"), when.m_column},
            {QStringLiteral("text"), when.m_text}};
}

// The members this program does not know, then its own over them.
QJsonObject WithUnknown(QJsonObject unknown, const QJsonObject& known) {
    for (auto member = known.begin(); member != known.end(); ++member)
        unknown.insert(member.key(), member.value());
    return unknown;
}

// When and label, present only when set.
template <typename Entry> QJsonObject WithOptional(QJsonObject object, const Entry& entry) {
    if (entry.m_when)
        object.insert(QStringLiteral("when"), WhenJson(*entry.m_when));
    if (!entry.m_label.isEmpty())
        object.insert(QStringLiteral("label"), entry.m_label);
    return WithUnknown(entry.m_unknown, object);
}

} // namespace

bool CFieldDefinitions::IsValidName(const QString& name) {
    static const QRegularExpression rule(QStringLiteral("\\A[a-z][a-z0-9_]*\\z"));
    return rule.match(name).hasMatch();
}

std::optional<CFieldDefinitions> CFieldDefinitions::Parse(const QByteArray& json,
                                                          QString* problem) {
    try {
        CFieldDefinitions definitions = FromJson(json);
        if (QString broken = definitions.Problem(); !broken.isEmpty()) {
            *problem = broken;
            return std::nullopt;
        }
        return definitions;
    } catch (const ReadError& error) {
        *problem = error.m_text;
    }
    return std::nullopt;
}

QString CFieldDefinitions::Quoted(const QString& text) {
    return CJsonText::Quoted(text);
}

std::optional<CFieldDefinitions::Field> CFieldDefinitions::FieldOrCell(const QString& name) const {
    for (const Field& field : m_fields)
        if (field.m_name == name)
            return field;
    const QStringList parts = name.split(QLatin1Char('.'));
    if (parts.size() != 3)
        return std::nullopt;
    const auto table = std::find_if(m_tables.begin(), m_tables.end(),
                                    [&](const Table& t) { return t.m_name == parts[0]; });
    if (table == m_tables.end())
        return std::nullopt;
    bool number = false;
    const int row = parts[1].toInt(&number);
    const auto column = std::find_if(table->m_columns.begin(), table->m_columns.end(),
                                     [&](const Column& c) { return c.m_name == parts[2]; });
    if (!number || row < 1 || row > table->m_lastRow - table->m_firstRow + 1 ||
        column == table->m_columns.end())
        return std::nullopt;
    return Field{.m_name = name,
                 .m_row = table->m_firstRow + row - 1,
                 .m_column = column->m_column,
                 .m_width = column->m_width,
                 .m_height = 1,
                 .m_when = table->m_when};
}

QString CFieldDefinitions::Problem() const {
    return CRules().First(*this);
}

QByteArray CFieldDefinitions::ToJson() const {
    QJsonArray fields;
    for (const Field& field : m_fields) {
        fields.append(WithOptional(QJsonObject{{QStringLiteral("name"), field.m_name},
                                               {QStringLiteral("row"), field.m_row},
                                               {QStringLiteral("column"), field.m_column},
                                               {QStringLiteral("width"), field.m_width},
                                               {QStringLiteral("height"), field.m_height}},
                                   field));
    }
    QJsonArray tables;
    for (const Table& table : m_tables) {
        QJsonArray columns;
        for (const Column& column : table.m_columns)
            columns.append(
                WithUnknown(column.m_unknown, {{QStringLiteral("name"), column.m_name},
                                               {QStringLiteral("column"), column.m_column},
                                               {QStringLiteral("width"), column.m_width}}));
        tables.append(WithOptional(QJsonObject{{QStringLiteral("name"), table.m_name},
                                               {QStringLiteral("first_row"), table.m_firstRow},
                                               {QStringLiteral("last_row"), table.m_lastRow},
                                               {QStringLiteral("columns"), columns}},
                                   table));
    }
    QJsonObject root = WithUnknown(m_unknown, {{QStringLiteral("version"), kVersion},
                                               {QStringLiteral("fields"), fields},
                                               {QStringLiteral("tables"), tables}});
    if (m_story) {
        QJsonObject story{{QStringLiteral("home"), m_story->m_home},
                          {QStringLiteral("visitor"), m_story->m_visitor}};
        for (const auto& [key, value] : {std::pair{"home_label", m_story->m_homeLabel},
                                         {"visitor_label", m_story->m_visitorLabel},
                                         {"period", m_story->m_period},
                                         {"clock", m_story->m_clock}})
            if (!value.isEmpty())
                story.insert(QLatin1String(key), value);
        root.insert(QStringLiteral("story"), WithUnknown(m_story->m_unknown, story));
    }
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

std::optional<CFieldDefinitions> CFieldDefinitions::Load(const QString& path, QString* message) {
    QByteArray bytes;
    QString problem;
    std::optional<CFieldDefinitions> definitions = Read(path, &bytes, &problem);
    if (!definitions)
        *message = NotUsed(path, problem);
    return definitions;
}

QString CFieldDefinitions::NotUsed(const QString& path, const QString& problem) {
    return QStringLiteral("The fields file %1 is not used: %2.")
        .arg(QDir::toNativeSeparators(path), problem);
}

std::optional<CFieldDefinitions> CFieldDefinitions::Read(const QString& path, QByteArray* bytes,
                                                         QString* problem) {
    bytes->clear();
    const CSettingsFile file(path);
    if (file.IsMissing())
        return CFieldDefinitions();
    QFile input;
    if (*problem = file.OpenForReading(input); !problem->isEmpty())
        return std::nullopt;
    *bytes = input.readAll();
    return Parse(*bytes, problem);
}

bool CFieldDefinitions::Save(const QString& path, QString* error) const {
    const QByteArray json = ToJson();
    *error = CSettingsFile(path).Replace([&](QIODevice& device) {
        return device.write(json) == json.size() ? QString() : device.errorString();
    });
    return error->isEmpty();
}

std::uint64_t CFieldDefinitions::RowsRead(int first, int last, const std::optional<When>& when) {
    const auto bit = [](int row) {
        return row >= 1 && row <= 64 ? std::uint64_t{1} << (row - 1) : std::uint64_t{0};
    };
    std::uint64_t rows = when ? bit(when->m_row) : 0;
    for (int row = first; row <= last; ++row)
        rows |= bit(row);
    return rows;
}

bool CFieldDefinitions::IsEmpty() const {
    return m_fields.empty() && m_tables.empty();
}
