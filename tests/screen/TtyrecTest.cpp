#include "CTtyrecReader.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

namespace {

using namespace std::chrono;

CTtyrecRecord::Time At(std::int64_t micros) {
    return CTtyrecRecord::Time(microseconds(micros));
}

TEST(Ttyrec, EncodesTheLittleEndianHeader) {
    std::string out;
    CTtyrecRecord::Encode(At(0x01020304LL * 1000000 + 0x050607), std::string("\0\xff", 2), out);
    EXPECT_EQ(out, std::string("\x04\x03\x02\x01\x07\x06\x05\x00\x02\x00\x00\x00\x00\xff", 14));
}

std::string ThreeRecords() {
    std::string file;
    CTtyrecRecord::Encode(At(1'700'000'000'000'001), "first", file);
    CTtyrecRecord::Encode(At(1'700'000'000'500'000), "", file);
    CTtyrecRecord::Encode(At(1'700'000'003'999'999), std::string(300, '\x1b'), file);
    return file;
}

std::vector<CTtyrecRecord> ReadAll(const std::string& file, std::string& note, bool withData) {
    std::istringstream in(file);
    CTtyrecReader reader(in);
    std::vector<CTtyrecRecord> records;
    for (CTtyrecRecord r; reader.Next(r, withData);)
        records.push_back(r);
    note = reader.Note();
    return records;
}

TEST(Ttyrec, ReadsBackEveryRecordWithItsOffsetTimeAndBytes) {
    for (const bool withData : {true, false}) {
        std::string note;
        const auto records = ReadAll(ThreeRecords(), note, withData);
        ASSERT_EQ(records.size(), 3u);
        EXPECT_EQ(note, "");
        EXPECT_EQ(records[0].m_time, At(1'700'000'000'000'001));
        EXPECT_EQ(records[2].m_time, At(1'700'000'003'999'999));
        EXPECT_EQ(records[1].m_offset, 17u);
        EXPECT_EQ(records[2].m_offset, 29u);
        EXPECT_EQ(records[2].m_length, 300u);
        EXPECT_EQ(records[0].m_data, withData ? "first" : "");
    }
}

TEST(Ttyrec, TornLastRecordEndsTheFileWithANoteAndKeepsEarlierRecords) {
    const std::string whole = ThreeRecords();
    // Cut inside the last header, and inside the last record's bytes.
    for (const std::size_t cut : {29u + 5u, 29u + 12u + 299u}) {
        for (const bool withData : {true, false}) {
            std::string note;
            const auto records = ReadAll(whole.substr(0, cut), note, withData);
            EXPECT_EQ(records.size(), 2u) << cut;
            EXPECT_NE(note.find("torn record at byte 29"), std::string::npos) << note;
        }
    }
}

TEST(Ttyrec, ReadsOnAfterTheFileGrewPastATornEnd) {
    const std::string whole = ThreeRecords();
    std::stringstream file(whole.substr(0, 35));
    CTtyrecReader reader(file);
    CTtyrecRecord r;
    while (reader.Next(r))
        ;
    ASSERT_FALSE(reader.Note().empty());
    file.clear();
    file.seekp(0, std::ios::end);
    file << whole.substr(35);
    reader.Seek(29);
    ASSERT_TRUE(reader.Next(r));
    EXPECT_EQ(r.m_data, std::string(300, '\x1b'));
    EXPECT_FALSE(reader.Next(r));
    EXPECT_EQ(reader.Note(), "");
}

} // namespace
