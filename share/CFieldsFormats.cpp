#include "CFieldsFormats.h"

#include "CFieldValues.h"
#include "CJsonText.h"

#include <QRegularExpression>
#include <QXmlStreamWriter>

namespace {

// The rows of a field list or a table: names in their defined order, then each row's values.
struct Rows {
    QStringList m_names;
    std::vector<QStringList> m_values;
};

Rows FieldRows(const CFieldValues& values) {
    Rows rows;
    QStringList line;
    for (const CFieldDefinitions::Field& field : values.Definitions().m_fields) {
        rows.m_names << field.m_name;
        line << values.Field(field.m_name);
    }
    rows.m_values.push_back(line);
    return rows;
}

Rows TableRows(const CFieldValues& values, const CFieldDefinitions::Table& table) {
    Rows rows;
    for (const CFieldDefinitions::Column& column : table.m_columns)
        rows.m_names << column.m_name;
    for (const CFieldValues::Row& row : values.Table(table.m_name)) {
        QStringList line;
        for (const QString& name : rows.m_names)
            line << row.at(name);
        rows.m_values.push_back(line);
    }
    return rows;
}

QByteArray Json(const Rows& rows) {
    std::vector<QByteArray> array;
    for (const QStringList& line : rows.m_values) {
        CJsonText::Members object;
        for (qsizetype i = 0; i < rows.m_names.size(); ++i)
            object.emplace_back(rows.m_names[i], CJsonText::String(line[i]));
        array.push_back(CJsonText::Object(object));
    }
    return CJsonText::Array(array);
}

// A table's root names it and gives its label: readers that take the row elements see no
// difference.
QByteArray Xml(const Rows& rows, const QString& element, const CFieldDefinitions::Table* table) {
    QByteArray out;
    QXmlStreamWriter xml(&out);
    xml.writeStartDocument();
    xml.writeStartElement(element);
    if (table) {
        xml.writeAttribute(QStringLiteral("name"), table->m_name);
        xml.writeAttribute(QStringLiteral("label"), table->Label());
    }
    for (const QStringList& line : rows.m_values) {
        xml.writeStartElement(QStringLiteral("row"));
        for (qsizetype i = 0; i < rows.m_names.size(); ++i)
            xml.writeTextElement(rows.m_names[i], line[i]);
        xml.writeEndElement();
    }
    xml.writeEndDocument();
    return out;
}

QString CsvValue(const QString& value) {
    static const QRegularExpression special(QStringLiteral("[\",\r\n]"));
    if (!value.contains(special))
        return value;
    return QLatin1Char('"') + QString(value).replace(QLatin1Char('"'), QStringLiteral("\"\"")) +
           QLatin1Char('"');
}

QByteArray CsvLine(const QStringList& values) {
    QStringList quoted;
    for (const QString& value : values)
        quoted << CsvValue(value);
    return quoted.join(QLatin1Char(',')).toUtf8() + "\r\n";
}

QByteArray Csv(const Rows& rows) {
    QByteArray out = CsvLine(rows.m_names);
    for (const QStringList& line : rows.m_values)
        out += CsvLine(line);
    return out;
}

std::optional<CFieldsFormats::File> As(const QByteArray& format, const Rows& rows,
                                       const QString& element,
                                       const CFieldDefinitions::Table* table) {
    if (format == "json")
        return CFieldsFormats::File{Json(rows), "application/json; charset=utf-8"};
    if (format == "xml")
        return CFieldsFormats::File{Xml(rows, element, table), "application/xml; charset=utf-8"};
    if (format == "csv")
        return CFieldsFormats::File{Csv(rows), "text/csv; charset=utf-8; header=present"};
    return std::nullopt;
}

} // namespace

std::optional<CFieldsFormats::File> CFieldsFormats::Find(const QByteArray& path,
                                                         const CFieldValues& values) {
    const qsizetype dot = path.lastIndexOf('.');
    if (dot < 0)
        return std::nullopt;
    const QByteArray stem = path.left(dot);
    const QByteArray format = path.mid(dot + 1);
    if (stem == "/fields")
        return As(format, FieldRows(values), QStringLiteral("fields"), nullptr);
    if (!stem.startsWith("/tables/"))
        return std::nullopt;
    const QString name = QString::fromUtf8(stem.mid(8));
    for (const CFieldDefinitions::Table& table : values.Definitions().m_tables)
        if (table.m_name == name)
            return As(format, TableRows(values, table), QStringLiteral("table"), &table);
    return std::nullopt;
}
