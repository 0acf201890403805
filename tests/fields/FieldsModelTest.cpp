// The fields file's rules, and the values read from a screen.
#include "CFieldDefinitions.h"
#include "CFieldValues.h"
#include "CTerminalScreen.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>

namespace {

struct BadFile {
    const char* m_json;
    const char* m_problem; // the start of the problem Parse reports
};

class FieldsFileRule : public ::testing::TestWithParam<BadFile> {};

TEST_P(FieldsFileRule, NamesTheEntryAndTheProblem) {
    QString problem;
    EXPECT_FALSE(CFieldDefinitions::Parse(GetParam().m_json, &problem));
    EXPECT_TRUE(problem.startsWith(QLatin1String(GetParam().m_problem))) << problem.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Files, FieldsFileRule,
    ::testing::Values(
        BadFile{R"({"version": 1, "fields": [)", "at byte"},
        BadFile{R"([1])", "the file: is not a JSON object"},
        BadFile{R"({"version": 2})", "the file: \"version\""},
        BadFile{R"({"version": 1, "fields": [7]})", "fields[0]: is not an object"},
        BadFile{R"({"version": 1, "fields": [{"name": "a", "row": 1.5, "column": 1, "width": 1}]})",
                "field \"a\": \"row\" is not a whole number"},
        BadFile{
            R"({"version": 1, "fields": [{"name": "Score", "row": 1, "column": 1, "width": 1}]})",
            "field \"Score\": a name"},
        BadFile{R"({"version": 1, "fields": [{"name": "a", "row": 43, "column": 1, "width": 1}]})",
                "field \"a\": \"row\" is not from 1 to 42"},
        BadFile{R"({"version": 1, "fields": [{"name": "a", "row": 41, "column": 1, "width": 1,
                    "height": 3}]})",
                "field \"a\": \"height\" 3 goes past row 42"},
        BadFile{R"({"version": 1, "fields": [{"name": "a", "row": 1, "column": 130, "width": 4}]})",
                "field \"a\": \"width\" 4 goes past column 132"},
        BadFile{R"({"version": 1, "fields": [{"name": "a", "row": 1, "column": 1, "width": 1}],
                    "tables": [{"name": "a", "first_row": 1, "last_row": 2,
                                "columns": [{"name": "x", "column": 1, "width": 1}]}]})",
                "table \"a\": the name is used twice"},
        BadFile{R"({"version": 1, "tables": [{"name": "t", "first_row": 3, "last_row": 2,
                    "columns": [{"name": "x", "column": 1, "width": 1}]}]})",
                "table \"t\": \"last_row\" is above"},
        BadFile{R"({"version": 1, "tables": [{"name": "t", "first_row": 1, "last_row": 2,
                    "columns": [{"name": "x", "column": 1, "width": 1},
                                {"name": "x", "column": 5, "width": 1}]}]})",
                "table \"t\" column \"x\": the name is used twice"},
        BadFile{R"({"version": 1, "fields": [{"name": "a", "row": 1, "column": 1, "width": 1,
                    "when": {"row": 1, "column": 131, "text": "abc"}}]})",
                "field \"a\" when: \"text\" 3 goes past column 132"},
        BadFile{R"({"version": 1, "fields": [{"name": "a", "row": 1, "column": 1, "width": 1,
                    "when": {"row": 1, "column": 1, "text": "\ud800"}}]})",
                "field \"a\" when: \"text\" is not valid text"}));

TEST(FieldsFile, ReadsBackWhatItWrites) {
    CFieldDefinitions definitions;
    definitions.m_fields.push_back({QStringLiteral("clock"), 2, 60, 5, 1, std::nullopt});
    definitions.m_fields.push_back(
        {QStringLiteral("home_line"), 10, 1, 132, 3, CFieldDefinitions::When{1, 1, "BOX"}});
    definitions.m_tables.push_back(
        {QStringLiteral("players"),
         20,
         42,
         {{QStringLiteral("name"), 1, 20}, {QStringLiteral("pts"), 30, 3}},
         std::nullopt});
    QString problem;
    EXPECT_EQ(CFieldDefinitions::Parse(definitions.ToJson(), &problem), definitions)
        << problem.toStdString();
}

// Fields over every kind of cell the window shows: Windows-1252 high bytes, control pictures,
// a row cut by a NUL, the last column and the last row; a table keeps a blank row.
TEST(FieldValues, AreTheCellsAsTheWindowShowsThem) {
    CFieldDefinitions definitions;
    const auto field = [&](const char* name, int row, int column, int width, int height = 1) {
        definitions.m_fields.push_back({QLatin1String(name), row, column, width, height, {}});
    };
    field("high", 1, 1, 10);
    field("control", 2, 1, 10);
    field("nul", 3, 1, 10);
    field("corner", 41, 128, 5, 2);
    definitions.m_tables.push_back(
        {QStringLiteral("t"), 5, 6, {{QStringLiteral("a"), 1, 3}}, std::nullopt});
    CTerminalScreen screen;
    screen.ReceiveBytes(std::string("\x1b`;\x1b=  \x80 caf\xe9 ") + "\x1b=! \x01\x1f" +
                        std::string("\x1b=\" ab\0cd", 9) +
                        "\x1b"
                        "a41R130Cx\x1b"
                        "a42R128Cy\x1b"
                        "a42R132Cz" +
                        "\x1b=$ 12");
    screen.ProcessReceived();
    CFieldValues values(definitions);
    EXPECT_TRUE(values.Update(screen));
    EXPECT_EQ(values.Field("high"), QStringLiteral("\u20ac caf\u00e9"));
    EXPECT_EQ(values.Field("control"), QStringLiteral("\u263a\u25bc"));
    EXPECT_EQ(values.Field("nul"), QStringLiteral("ab"));
    EXPECT_EQ(values.Field("corner"), QStringLiteral("x\ny   z"));
    EXPECT_EQ(values.Table("t"), (std::vector<CFieldValues::Row>{{{"a", "12"}}, {{"a", ""}}}));
    EXPECT_FALSE(values.Update(screen));
}

// Statistics computers cycle through pages: a value is read on its own page only.
TEST(FieldValues, KeepTheirLastValueOffTheirPage) {
    CFieldDefinitions definitions;
    definitions.m_fields.push_back(
        {QStringLiteral("shots"), 2, 1, 3, 1, CFieldDefinitions::When{1, 1, "SHOTS"}});
    CTerminalScreen screen;
    CFieldValues values(definitions);
    screen.ReceiveBytes("\x1b=  SHOTS\x1b=! 12");
    screen.ProcessReceived();
    values.Update(screen);
    screen.ReceiveBytes("\x1b=  GOALS\x1b=! 3  ");
    screen.ProcessReceived();
    EXPECT_TRUE(values.Update(screen));
    EXPECT_EQ(values.Field("shots"), QStringLiteral("12"));
    EXPECT_FALSE(values.IsCurrent("shots"));
    EXPECT_EQ(QJsonDocument(values.ToJson()).toJson(QJsonDocument::Compact),
              R"({"current":{"shots":false},"fields":{"shots":"12"},"tables":{}})");
}

} // namespace
