// The fields file's rules.
#include "CFieldDefinitions.h"

#include <gtest/gtest.h>

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
        // Good at the start, wrong further on: the whole name must follow the rule.
        BadFile{R"({"version": 1, "fields": [{"name": "home score", "row": 1, "column": 1,
                    "width": 1}]})",
                "field \"home score\": a name"},
        BadFile{R"({"version": 1, "fields": [{"name": "score\n", "row": 1, "column": 1,
                    "width": 1}]})",
                "field \"score"},
        BadFile{R"({"version": 1, "tables": [{"name": "t", "first_row": 1, "last_row": 2,
                    "columns": [{"name": "no</x>", "column": 1, "width": 1}]}]})",
                "table \"t\" column \"no"},
        BadFile{R"({"version": 1, "fields": [{"name": "a", "row": 43, "column": 1, "width": 1}]})",
                "field \"a\": \"row\" is not from 1 to 42"},
        BadFile{R"({"version": 1, "fields": [{"name": "a", "row": 0, "column": 1, "width": 1}]})",
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

} // namespace
