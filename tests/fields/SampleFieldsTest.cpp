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

// A moment: the capture up to just before the nth time (from 1) `marker` comes in it, or all of
// it; the values then, and a table's rows, each its cells in the file's order joined by "|".
struct Moment {
    const char* m_marker;
    int m_nth;
    bool m_current;
    std::map<std::string, std::string> m_fields;
    std::map<std::pair<std::string, std::size_t>, std::string> m_rows; // (table, index) -> cells
};

// Read off the board by eye (tallyview-replay on the capture cut there).
const Moment kMoments[] = {
    {"\x1b"
     "FTV TIMEOUT\r",
     1,
     true,
     {{"home_team", "HARBOR CITY GULLS"},
      {"home_score", "3"},
      {"home_shots", "17"},
      {"period", "2"},
      {"clock", "11:25"},
      {"visitor_team", "RIDGEFIELD LYNX"},
      {"visitor_score", "2"},
      {"visitor_shots", "18"},
      {"strength", "EVEN STRENGTH 5 ON 5"}},
     {{{"home_players", 0}, "17|T. MARCHETTI|C|0|0|0|1|+0|0|9:16|14"},
      {{"visitor_players", 2}, "8|Z. PETRAKIS|R|1|0|1|2|+0|2|8:16|12"},
      {{"home_penalties", 0}, "||"}}},
    // The TV-timeout page clears the board: each value is the board's last, not current.
    {"\x1b"
     "FRESUMING PLAY\r",
     1,
     false,
     {{"home_score", "3"}, {"clock", "11:25"}, {"visitor_score", "2"}},
     {{{"home_players", 0}, "17|T. MARCHETTI|C|0|0|0|1|+0|0|9:16|14"}}},
    {"\x1b"
     "FTV TIMEOUT\r",
     2,
     true,
     {{"home_shots", "18"},
      {"clock", "9:15"},
      {"visitor_shots", "20"},
      {"strength", "POWER PLAY LYN 5 ON 3"}},
     {{{"home_penalties", 0}, "GUL #12 A. DUBOIS|HIGH-STICKING|0:06"},
      {{"home_penalties", 1}, "GUL #2 B. ACHTERBERG|SLASHING|1:56"},
      {{"home_penalties", 2}, "||"},
      {{"visitor_penalties", 0}, "||"}}},
    // The intermission's summary ends the capture: the board as the period ended.
    {nullptr,
     0,
     false,
     {{"home_score", "3"},
      {"home_shots", "24"},
      {"clock", "0:00"},
      {"visitor_score", "3"},
      {"visitor_shots", "27"}},
     {{{"home_penalties", 0}, "||"}}},
};

std::size_t Offset(const std::string& capture, const Moment& moment) {
    if (!moment.m_marker)
        return capture.size();
    std::size_t at = std::string::npos;
    for (int n = 0; n < moment.m_nth; ++n)
        at = capture.find(moment.m_marker, at + 1);
    return at;
}

std::string Cells(const CFieldDefinitions& definitions, const CFieldValues& values,
                  const std::string& table, std::size_t index) {
    const QString name = QString::fromStdString(table);
    const auto found = std::find_if(definitions.m_tables.begin(), definitions.m_tables.end(),
                                    [&](const auto& t) { return t.m_name == name; });
    if (found == definitions.m_tables.end())
        return "no table " + table;
    QStringList cells;
    for (const CFieldDefinitions::Column& column : found->m_columns)
        cells << values.Table(name).at(index).at(column.m_name);
    return cells.join(QLatin1Char('|')).toStdString();
}

// Read as a line brings it, a few hundred bytes at a time, each read looked at as the outputs
// look at the screen.
TEST(SampleFields, HoldTheBoardAtKnownMoments) {
    const QByteArray bytes = ReadAll(TALLYVIEW_SAMPLE);
    const std::string capture(bytes.constData(), std::size_t(bytes.size()));
    ASSERT_FALSE(capture.empty());
    const CFieldDefinitions definitions = SampleFields();
    CFieldValues values(definitions);
    CTerminalScreen screen;
    constexpr std::size_t kRead = 300;
    std::size_t done = 0;
    for (const Moment& moment : kMoments) {
        const std::size_t until = Offset(capture, moment);
        ASSERT_NE(until, std::string::npos) << moment.m_marker;
        for (; done < until; done = std::min(until, done + kRead)) {
            screen.ReceiveBytes(
                std::string_view(capture).substr(done, until - done).substr(0, kRead));
            screen.ProcessReceived();
            values.Update(screen);
        }
        SCOPED_TRACE(testing::Message() << "at byte " << until);
        for (const auto& [name, value] : moment.m_fields) {
            EXPECT_EQ(values.Field(QString::fromStdString(name)).toStdString(), value) << name;
            EXPECT_EQ(values.IsCurrent(QString::fromStdString(name)), moment.m_current) << name;
        }
        for (const auto& [at, cells] : moment.m_rows) {
            EXPECT_EQ(Cells(definitions, values, at.first, at.second), cells) << at.first;
            EXPECT_EQ(values.IsCurrent(QString::fromStdString(at.first)), moment.m_current);
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
