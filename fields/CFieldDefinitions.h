#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

// The named parts of the screen that graphics, scoreboards and scripts take as data: fields
// (a rectangle of cells) and tables (a block of rows cut into named columns), as the operator
// defined them in the fields file. Rows and columns are 1-based, as the cursor field shows them.
class CFieldDefinitions {
public:
    // Text that must stand at a place for a field or table to be current: statistics computers
    // cycle through pages, and a value is only read from its own page.
    struct When {
        int m_row = 0;
        int m_column = 0;
        QString m_text;
        bool operator==(const When&) const = default;
    };
    struct Field {
        QString m_name;
        int m_row = 1;
        int m_column = 1;
        int m_width = 1;
        int m_height = 1;
        std::optional<When> m_when;
        QString m_label = {};       // empty: the name
        QJsonObject m_unknown = {}; // members this program does not know, kept as they are
        QString Label() const { return m_label.isEmpty() ? m_name : m_label; }
        std::uint64_t ReadRows() const { return RowsRead(m_row, m_row + m_height - 1, m_when); }
        bool operator==(const Field&) const = default;
    };
    struct Column {
        QString m_name;
        int m_column = 1;
        int m_width = 1;
        QJsonObject m_unknown = {};
        bool operator==(const Column&) const = default;
    };
    struct Table {
        QString m_name;
        int m_firstRow = 1;
        int m_lastRow = 1;
        std::vector<Column> m_columns;
        std::optional<When> m_when;
        QString m_label = {};
        QJsonObject m_unknown = {};
        QString Label() const { return m_label.isEmpty() ? m_name : m_label; }
        std::uint64_t ReadRows() const { return RowsRead(m_firstRow, m_lastRow, m_when); }
        bool operator==(const Table&) const = default;
    };

    // The game's story: two numeric fields (the two sides' scores) charted against each other,
    // with the period and clock fields to mark it; each names a field or a table's cell.
    struct Story {
        QString m_home;
        QString m_visitor;
        QString m_homeLabel = {}; // empty: the field's label
        QString m_visitorLabel = {};
        QString m_period = {}; // optional
        QString m_clock = {};  // optional
        QJsonObject m_unknown = {};
        bool operator==(const Story&) const = default;
    };

    std::vector<Field> m_fields;
    std::vector<Table> m_tables;
    QJsonObject m_unknown;
    std::optional<Story> m_story = {};

    // The field `name`, or a table's cell TABLE.ROW.COLUMN (ROW counted from 1 within the
    // table) as a field of one row with the table's `when`; nullopt when there is neither.
    std::optional<Field> FieldOrCell(const QString& name) const;

    // The longest label, in UTF-16 units: a card's heading, not a text.
    static constexpr int kMaxLabel = 100;

    // Reads {"version": 1, "fields": [...], "tables": [...], "story": {...}}, keeping members it
    // does not know (written back by ToJson); on failure nullopt and *problem
    // "<entry>: <what is wrong>", the entry named (`field "score"`) or numbered (`fields[3]`).
    static std::optional<CFieldDefinitions> Parse(const QByteArray& json, QString* problem);
    // Empty when every rule holds (names, unique names, places on the screen), otherwise the
    // first rule broken, as Parse words it.
    QString Problem() const;
    // What Parse reads back equal.
    QByteArray ToJson() const;
    // Reads the file; nullopt and *message naming the file, the entry and the problem. No file
    // is no fields, without a message.
    static std::optional<CFieldDefinitions> Load(const QString& path, QString* message);
    // Load's message: "The fields file PATH is not used: PROBLEM."
    static QString NotUsed(const QString& path, const QString& problem);
    // Load with the bytes read (none for no file) and the problem not yet put in a sentence.
    static std::optional<CFieldDefinitions> Read(const QString& path, QByteArray* bytes,
                                                 QString* problem);
    // Stores the file whole or not at all (the old one stays on failure); false and *error.
    bool Save(const QString& path, QString* error) const;
    bool IsEmpty() const;
    bool operator==(const CFieldDefinitions&) const = default;

    // The screen rows (bit r-1 for row r) that rows first..last and `when` read: the value can
    // only change when one of them does.
    static std::uint64_t RowsRead(int first, int last, const std::optional<When>& when);
    // Whether `name` may name a field, a table or a column.
    static bool IsValidName(const QString& name);
    // A name or value as a message shows it: quoted, its control characters escaped.
    static QString Quoted(const QString& text);
};
