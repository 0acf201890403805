// The fields file's rules, and an editor's change made to the file as another left it.
#include "CFieldDefinitions.h"
#include "CFieldValues.h"
#include "CFieldsChange.h"
#include "CScreenChanges.h"
#include "ScreenTestSupport.h"

#include <QJsonDocument>
#include <functional>
#include <gtest/gtest.h>
#include <random>

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
                "field \"a\" when: \"text\" is not valid text"},
        // A name that could forge or cut a log line is shown escaped.
        BadFile{R"({"version": 1, "fields": [{"name": "a\nb\u0000c\u2028", "row": 1,
                    "column": 1, "width": 1}]})",
                R"(field "a\nb\u0000c\u2028": a name)"},
        BadFile{R"({"version": 1, "fields": [{"name": "a", "row": 1, "column": 1, "width": 1,
                    "label": ""}]})",
                "field \"a\": \"label\" is empty"}));

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

// Members written by hand that this program does not know, and labels, are written back.
TEST(FieldsFile, WritesBackLabelsAndMembersItDoesNotKnow) {
    const QByteArray json = R"({"version": 1, "by": {"who": "ann"},
        "fields": [{"name": "clock", "row": 2, "column": 60, "width": 5, "height": 1,
                    "label": "Clock", "color": "red"}],
        "tables": [{"name": "t", "first_row": 1, "last_row": 2, "label": "Home players",
                    "sort": [1], "columns": [{"name": "no", "column": 1, "width": 3,
                                             "align": "right"}]}]})";
    QString problem;
    const std::optional<CFieldDefinitions> definitions = CFieldDefinitions::Parse(json, &problem);
    ASSERT_TRUE(definitions) << problem.toStdString();
    EXPECT_EQ(QJsonDocument::fromJson(definitions->ToJson()), QJsonDocument::fromJson(json));
    EXPECT_EQ(definitions->m_tables[0].Label(), "Home players");
}

using Edit = std::function<void(CFieldDefinitions&)>;

struct Merge {
    const char* m_case;
    Edit m_there;          // what someone else did to the file meanwhile
    Edit m_here;           // what the editor did
    Edit m_result;         // both, made to the start; none: refused
    const char* m_refusal; // its reason
};

CFieldDefinitions::Field Field(const char* name, int row) {
    return {QLatin1String(name), row, 1, 5, 1, std::nullopt};
}

Edit Add(const char* name, int row) {
    return [=](CFieldDefinitions& d) { d.m_fields.push_back(Field(name, row)); };
}
Edit Move(std::size_t index, int row) {
    return [=](CFieldDefinitions& d) { d.m_fields[index].m_row = row; };
}
Edit Delete(std::size_t index) {
    return [=](CFieldDefinitions& d) { d.m_fields.erase(d.m_fields.begin() + long(index)); };
}
Edit Both(Edit first, Edit second) {
    return [=](CFieldDefinitions& d) {
        first(d);
        second(d);
    };
}
const Edit kWhen = [](CFieldDefinitions& d) {
    d.m_fields[0].m_when = CFieldDefinitions::When{1, 1, "SHOTS"};
};

class FieldsChangeMerge : public ::testing::TestWithParam<Merge> {};

TEST_P(FieldsChangeMerge, KeepsWhatTheOtherDidOrRefuses) {
    CFieldDefinitions start;
    start.m_fields = {Field("a", 1), Field("b", 2)};
    start.m_unknown = QJsonObject{{"by", "ann"}};
    CFieldDefinitions there = start;
    GetParam().m_there(there);
    CFieldDefinitions here = start;
    GetParam().m_here(here);
    QString conflict;
    const std::optional<CFieldDefinitions> merged =
        CFieldsChange(start, here).ApplyTo(there, &conflict);
    if (!GetParam().m_result) {
        EXPECT_FALSE(merged);
        EXPECT_EQ(conflict, QLatin1String(GetParam().m_refusal));
        return;
    }
    CFieldDefinitions expected = start;
    GetParam().m_result(expected);
    ASSERT_TRUE(merged) << conflict.toStdString();
    EXPECT_EQ(*merged, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FieldsChangeMerge,
    ::testing::Values(
        Merge{"hand_when_and_field_kept", Both(kWhen, Add("c", 3)), Move(1, 9),
              Both(Both(kWhen, Add("c", 3)), Move(1, 9)), ""},
        Merge{"both_add", Add("c", 3), Add("d", 4), Both(Add("c", 3), Add("d", 4)), ""},
        Merge{"rename_here", Move(0, 7), Both(Delete(1), Add("bb", 2)),
              Both(Both(Move(0, 7), Delete(1)), Add("bb", 2)), ""},
        Merge{"same_move", Move(1, 9), Move(1, 9), Move(1, 9), ""},
        Merge{"deleted_here_changed_there",
              kWhen,
              Delete(0),
              {},
              R"(field "a" was changed there too)"},
        Merge{"moved_both", Move(1, 8), Move(1, 9), {}, R"(field "b" was changed there too)"},
        Merge{"moved_here_deleted_there",
              Delete(1),
              Move(1, 9),
              {},
              R"(field "b" was deleted there)"},
        Merge{"made_both", Add("c", 3), Add("c", 4), {}, R"(field "c" was made there too)"}),
    [](const auto& info) { return std::string(info.param.m_case); });

// Fields, tables and their pages at random places, some sharing rows; each `when` reads "P1" or
// "P2" at its place.
CFieldDefinitions RandomDefinitions(std::mt19937& rng) {
    const auto when = [&]() -> std::optional<CFieldDefinitions::When> {
        if (rng() % 2 == 0)
            return std::nullopt;
        return CFieldDefinitions::When{int(1 + rng() % 42), int(1 + rng() % 120),
                                       rng() % 2 ? QStringLiteral("P1") : QStringLiteral("P2")};
    };
    CFieldDefinitions definitions;
    for (int i = 0; i < 8; ++i) {
        const int height = int(1 + rng() % 3);
        definitions.m_fields.push_back({QStringLiteral("f%1").arg(i),
                                        int(1 + rng() % (43 - height)), int(1 + rng() % 100),
                                        int(1 + rng() % 30), height, when()});
    }
    for (int i = 0; i < 3; ++i) {
        const int first = int(1 + rng() % 40);
        definitions.m_tables.push_back(
            {QStringLiteral("t%1").arg(i),
             first,
             first + int(rng() % 3),
             {{QStringLiteral("a"), 1, 10}, {QStringLiteral("b"), 20, 8}},
             when()});
    }
    return definitions;
}

// Values read only where the screen changed, a field's `when` included, are at every step the
// values read from the whole screen; pages flip by their marker alone.
TEST(FieldValues, ReadingOnlyTheChangedRowsGivesWhatReadingAllGives) {
    std::mt19937 rng(2029);
    for (int round = 0; round < 100; ++round) {
        const CFieldDefinitions definitions = RandomDefinitions(rng);
        CTerminalScreen screen;
        CScreenChanges changes(screen);
        const int reader = changes.Subscribe({});
        CFieldValues all(definitions);
        CFieldValues changed(definitions);
        for (int step = 0; step < 60; ++step) {
            std::string bytes;
            switch (rng() % 4) {
            case 0: { // a page marker at one of the `when` places
                const auto& f = definitions.m_fields[rng() % definitions.m_fields.size()];
                const auto& t = definitions.m_tables[rng() % definitions.m_tables.size()];
                const std::optional<CFieldDefinitions::When>& w = rng() % 2 ? f.m_when : t.m_when;
                if (w)
                    bytes = At(w->m_row - 1, w->m_column - 1) + (rng() % 2 ? "P1" : "P2");
                break;
            }
            case 1:
                bytes = Esc("+"); // the whole screen cleared
                break;
            default:
                bytes = At(int(rng() % 42), int(rng() % 120)) +
                        std::string(1 + rng() % 12, char('A' + rng() % 26));
            }
            screen.ReceiveBytes(bytes);
            screen.ProcessReceived();
            changes.Gather();
            const bool allChanged = all.Update(screen);
            const bool someChanged = changed.Update(screen, changes.Take(reader).m_rows);
            ASSERT_EQ(someChanged, allChanged) << "step " << step;
            ASSERT_EQ(changed.ToJson(), all.ToJson()) << "step " << step;
        }
    }
}

} // namespace
