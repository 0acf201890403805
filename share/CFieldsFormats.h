#pragma once

#include <QByteArray>
#include <optional>

class CFieldValues;

// The fields and tables in the forms broadcast graphics programs poll: JSON as an array of row
// objects, XML with an element per value and CSV (RFC 4180), all UTF-8, names in the fields
// file's order.
//   /fields.json  [{"NAME": "VALUE", ...}]      /tables/NAME.json  [{"COLUMN": "VALUE"}, ...]
//   /fields.xml   <fields><row><NAME>VALUE</NAME>...</row></fields>
//   /tables/NAME.xml  <table name="NAME" label="LABEL"><row><COLUMN>VALUE</COLUMN>...</row>
//                     ...</table>
//   /fields.csv, /tables/NAME.csv  a line of names, then a line of values per row
class CFieldsFormats {
public:
    struct File {
        QByteArray m_body;
        QByteArray m_type;
    };

    // The file at a request path; nullopt for any other path or an unknown table.
    static std::optional<File> Find(const QByteArray& path, const CFieldValues& values);
};
