// The fields file of the window's station: changed by hand while the program runs, and stored
// from the window on top of whatever stands in it by then.
#include "CFieldsFeed.h"
#include "CStation.h"
#include "PortTestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <gtest/gtest.h>

namespace {

const QByteArray kStart = R"({"version": 1, "fields": [
    {"name": "a", "row": 1, "column": 1, "width": 4},
    {"name": "b", "row": 2, "column": 1, "width": 4}]})";
// Saved by rename: a field added.
const QByteArray kRenamed = R"({"version": 1, "fields": [
    {"name": "a", "row": 1, "column": 1, "width": 4},
    {"name": "b", "row": 2, "column": 1, "width": 4},
    {"name": "c", "row": 3, "column": 1, "width": 4}]})";
// Then written in place: a page and members of the operator's own.
const QByteArray kInPlace = R"({"version": 1, "by": "ann", "fields": [
    {"name": "a", "row": 1, "column": 1, "width": 4, "color": "red",
     "when": {"row": 5, "column": 1, "text": "SHOTS"}},
    {"name": "b", "row": 2, "column": 1, "width": 4},
    {"name": "c", "row": 3, "column": 1, "width": 4, "label": "Clock"}]})";

CFieldDefinitions Parsed(const QByteArray& json) {
    QString problem;
    return CFieldDefinitions::Parse(json, &problem).value_or(CFieldDefinitions());
}

bool Write(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

QByteArray Read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(FieldsFile, StationTakesUpHandEditsAndStoresTheWindowsChangeOnTopOfThem) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("fields.json"));
    ASSERT_TRUE(Write(path, kStart));
    CStation station(dir.filePath(QStringLiteral("Tallyview.cfg")));
    station.LoadFields();
    const CFieldDefinitions start = station.Fields().Definitions();
    ASSERT_EQ(start, Parsed(kStart));
    int told = 0;
    QObject::connect(&station.Fields(), &CFieldsFeed::DefinitionsChanged, [&] { ++told; });

    ASSERT_TRUE(Write(path + QStringLiteral(".new"), kRenamed));
    ASSERT_EQ(::rename(QFile::encodeName(path + QStringLiteral(".new")), QFile::encodeName(path)),
              0);
    EXPECT_TRUE(WaitUntil([&] { return station.Fields().Definitions() == Parsed(kRenamed); }));
    ASSERT_TRUE(Write(path, kInPlace));
    EXPECT_TRUE(WaitUntil([&] { return station.Fields().Definitions() == Parsed(kInPlace); }));
    EXPECT_EQ(told, 2);

    // A window that began before the hand edits moves b.
    CFieldDefinitions moved = start;
    moved.m_fields[1].m_row = 9;
    QString error;
    ASSERT_TRUE(station.StoreFieldDefinitions(start, moved, &error)) << error.toStdString();
    // Parsed back with the members this program does not know.
    CFieldDefinitions expected = Parsed(kInPlace);
    expected.m_fields[1].m_row = 9;
    EXPECT_EQ(Parsed(Read(path)), expected) << Read(path).toStdString();
    EXPECT_EQ(station.Fields().Definitions(), Parsed(Read(path)));

    // Changed by hand and here: refused, and the file as it stands is what is shown.
    ASSERT_TRUE(Write(path, kStart));
    CFieldDefinitions again = Parsed(Read(path));
    CFieldDefinitions stale = station.Fields().Definitions();
    CFieldDefinitions mine = stale;
    mine.m_fields[1].m_row = 10;
    EXPECT_FALSE(station.StoreFieldDefinitions(stale, mine, &error));
    EXPECT_TRUE(error.contains(QLatin1String(R"(field "b" was changed there too)")))
        << error.toStdString();
    EXPECT_EQ(Read(path), kStart);
    EXPECT_EQ(station.Fields().Definitions(), again);
}

} // namespace
