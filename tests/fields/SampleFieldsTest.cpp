// The fields file shipped for the sample game, read off the sample game as a line brings it:
// the values a graphics operator expects at known moments, on the board and on the pages that
// take its place.
#include "CFieldDefinitions.h"
#include "CFieldValues.h"
#include "CTerminalScreen.h"

#include <QFile>
#include <QRegularExpression>
#include <algorithm>
#include <gtest/gtest.h>
#include <map>

namespace {

QByteArray ReadAll(const char* path) {
    QFile file(QString::fromUtf8(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

CFieldDefinitions SampleFields() {
    QString problem;
    const std::optional<CFieldDefinitions> definitions =
        CFieldDefinitions::Parse(ReadAll(TALLYVIEW_SAMPLE_FIELDS), &problem);
    EXPECT_TRUE(definitions) << problem.toStdString();
    return definitions.value_or(CFieldDefinitions());
}

using Row = CFieldValues::Row;

// A moment: the capture up to just before the nth time (from 1) `marker` comes in it.
struct Moment {
    const char* m_marker;
    int m_nth;
    std::map<QString, QString> m_fields;
    bool m_current;
    std::map<QString, std::map<std::size_t, Row>> m_rows; // table -> row index -> row
};

const Row kNoPenalty{{"player", ""}, {"infraction", ""}, {"left", ""}};

// Read off the board by eye (tallyview-replay on the capture cut there).
const Moment kMoments[] = {
    {"\x1b"
     "FTV TIMEOUT\r",
     1,
     {{"home_team", "HARBOR CITY GULLS"},
      {"home_score", "3"},
      {"home_shots", "17"},
      {"period", "2"},
      {"clock", "11:25"},
      {"visitor_team", "RIDGEFIELD LYNX"},
      {"visitor_score", "2"},
      {"visitor_shots", "18"},
      {"strength", "EVEN STRENGTH 5 ON 5"}},
     true,
     {{"home_players",
       {{0,
         {{"no", "17"},
          {"player", "T. MARCHETTI"},
          {"pos", "C"},
          {"g", "0"},
          {"a", "0"},
          {"pts", "0"},
          {"sog", "1"},
          {"plus_minus", "+0"},
          {"pim", "0"},
          {"toi", "9:16"},
          {"shf", "14"}}}}},
      {"visitor_players",
       {{2,
         {{"no", "8"},
          {"player", "Z. PETRAKIS"},
          {"pos", "R"},
          {"g", "1"},
          {"a", "0"},
          {"pts", "1"},
          {"sog", "2"},
          {"plus_minus", "+0"},
          {"pim", "2"},
          {"toi", "8:16"},
          {"shf", "12"}}}}},
      {"home_penalties", {{0, kNoPenalty}, {2, kNoPenalty}}}}},
    // The TV-timeout page blanks the board: every value is the board's last, not current.
    {"\x1b"
     "FRESUMING PLAY\r",
     1,
     {{"home_team", "HARBOR CITY GULLS"},
      {"home_score", "3"},
      {"home_shots", "17"},
      {"period", "2"},
      {"clock", "11:25"},
      {"visitor_team", "RIDGEFIELD LYNX"},
      {"visitor_score", "2"},
      {"visitor_shots", "18"},
      {"strength", "EVEN STRENGTH 5 ON 5"}},
     false,
     {{"home_players",
       {{0,
         {{"no", "17"},
          {"player", "T. MARCHETTI"},
          {"pos", "C"},
          {"g", "0"},
          {"a", "0"},
          {"pts", "0"},
          {"sog", "1"},
          {"plus_minus", "+0"},
          {"pim", "0"},
          {"toi", "9:16"},
          {"shf", "14"}}}}}}},
    {"\x1b"
     "FTV TIMEOUT\r",
     2,
     {{"home_score", "3"},
      {"home_shots", "18"},
      {"clock", "9:15"},
      {"visitor_score", "2"},
      {"visitor_shots", "20"},
      {"strength", "POWER PLAY LYN 5 ON 3"}},
     true,
     {{"home_penalties",
       {{0, {{"player", "GUL #12 A. DUBOIS"}, {"infraction", "HIGH-STICKING"}, {"left", "0:06"}}},
        {1, {{"player", "GUL #2 B. ACHTERBERG"}, {"infraction", "SLASHING"}, {"left", "1:56"}}},
        {2, kNoPenalty}}},
      {"visitor_penalties", {{0, kNoPenalty}}}}},
    // The intermission's summary ends the capture: the board as the period ended.
    {nullptr,
     0,
     {{"home_score", "3"},
      {"home_shots", "24"},
      {"period", "2"},
      {"clock", "0:00"},
      {"visitor_score", "3"},
      {"visitor_shots", "27"},
      {"strength", "EVEN STRENGTH 5 ON 5"}},
     false,
     {{"home_penalties", {{0, kNoPenalty}}}}},
};

// A row as readable text in a failure.
std::string Text(const Row& row) {
    std::string text;
    for (const auto& [column, value] : row)
        text += column.toStdString() + "=" + value.toStdString() + "; ";
    return text;
}

std::size_t Offset(const std::string& capture, const Moment& moment) {
    if (!moment.m_marker)
        return capture.size();
    std::size_t at = std::string::npos;
    for (int n = 0; n < moment.m_nth; ++n)
        at = capture.find(moment.m_marker, at + 1);
    return at;
}

// Read as a line brings it, a few hundred bytes at a time, each read looked at as the outputs
// look at the screen.
TEST(SampleFields, HoldTheBoardAtKnownMoments) {
    const QByteArray bytes = ReadAll(TALLYVIEW_SAMPLE);
    const std::string capture(bytes.constData(), std::size_t(bytes.size()));
    ASSERT_FALSE(capture.empty());
    CFieldValues values(SampleFields());
    CTerminalScreen screen;
    constexpr std::size_t kRead = 300;
    std::size_t done = 0;
    for (const Moment& moment : kMoments) {
        const std::size_t until = Offset(capture, moment);
        ASSERT_NE(until, std::string::npos) << moment.m_marker;
        for (; done < until; done = std::min(until, done + kRead)) {
            screen.ReceiveBytes(
                std::string_view(capture).substr(done, std::min(kRead, until - done)));
            screen.ProcessReceived();
            values.Update(screen);
        }
        SCOPED_TRACE(testing::Message() << "at byte " << until);
        for (const auto& [name, value] : moment.m_fields) {
            EXPECT_EQ(values.Field(name).toStdString(), value.toStdString()) << name.toStdString();
            EXPECT_EQ(values.IsCurrent(name), moment.m_current) << name.toStdString();
        }
        for (const auto& [table, rows] : moment.m_rows) {
            EXPECT_EQ(values.IsCurrent(table), moment.m_current) << table.toStdString();
            for (const auto& [index, row] : rows)
                EXPECT_EQ(Text(values.Table(table).at(index)), Text(row))
                    << table.toStdString() << " row " << index;
        }
    }
}

// The README's example is taken from the sample file: each of its entries is one of the file's.
TEST(SampleFields, TheReadmesExampleIsPartOfThem) {
    const QString readme = QString::fromUtf8(ReadAll(TALLYVIEW_README));
    const QRegularExpressionMatch example =
        QRegularExpression(QStringLiteral("## Fields\\n.*?```json\\n(.*?)```"),
                           QRegularExpression::DotMatchesEverythingOption)
            .match(readme);
    ASSERT_TRUE(example.hasMatch());
    QString problem;
    const std::optional<CFieldDefinitions> shown =
        CFieldDefinitions::Parse(example.captured(1).toUtf8(), &problem);
    ASSERT_TRUE(shown) << problem.toStdString();
    ASSERT_FALSE(shown->IsEmpty());
    const CFieldDefinitions sample = SampleFields();
    for (const CFieldDefinitions::Field& field : shown->m_fields)
        EXPECT_NE(std::find(sample.m_fields.begin(), sample.m_fields.end(), field),
                  sample.m_fields.end())
            << field.m_name.toStdString();
    for (const CFieldDefinitions::Table& table : shown->m_tables)
        EXPECT_NE(std::find(sample.m_tables.begin(), sample.m_tables.end(), table),
                  sample.m_tables.end())
            << table.m_name.toStdString();
}

} // namespace
