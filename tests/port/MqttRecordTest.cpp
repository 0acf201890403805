// What a mirror takes off the line and keyframe topics comes from anyone who can publish there:
// anything but one whole record is refused, without reading past the payload.
#include "CMqttRecord.h"

#include <QtEndian>
#include <gtest/gtest.h>
#include <vector>

namespace {

constexpr qsizetype kHeader = 8 + 12; // sequence number, then the ttyrec header
constexpr qsizetype kLengthAt = kHeader - 4;

const CMqttRecord kRecord{
    42, CTtyrecRecord::Time(std::chrono::seconds(1700000000) + std::chrono::microseconds(999999)),
    "\x1b[2Jscore 3:1\r\n"};

QByteArray WithField(QByteArray payload, qsizetype at, quint32 value) {
    qToLittleEndian(value, payload.data() + at);
    return payload;
}

// Decodes from a buffer exactly as long as the payload, so a read past it is one past the heap
// block, where AddressSanitizer sees it.
std::optional<CMqttRecord> DecodeExactly(const QByteArray& payload) {
    const std::vector<char> bytes(payload.begin(), payload.end());
    return CMqttRecord::Decode(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
}

TEST(MqttRecord, WholeRecordsDecodeAsSent) {
    for (const CMqttRecord& sent : {kRecord, CMqttRecord{1, kRecord.m_time, {}}}) {
        const std::optional<CMqttRecord> got = DecodeExactly(sent.Encode());
        ASSERT_TRUE(got);
        EXPECT_EQ(got->m_sequence, sent.m_sequence);
        EXPECT_EQ(got->m_time, sent.m_time);
        EXPECT_EQ(got->m_bytes, sent.m_bytes);
    }
}

TEST(MqttRecord, RefusesAnythingButOneWholeRecord) {
    const QByteArray whole = kRecord.Encode();
    const auto bytes = quint32(whole.size() - kHeader);
    std::vector<QByteArray> refused;
    for (qsizetype size = 0; size < whole.size(); ++size)
        refused.push_back(whole.first(size)); // short of the headers, then of the bytes
    refused.push_back(whole + 'x');
    for (const quint32 length : {0u, bytes - 1, bytes + 1, 0x7fffffffu, 0x80000000u, 0xffffffffu})
        refused.push_back(WithField(whole, kLengthAt, length));
    refused.push_back(WithField(whole, kLengthAt - 4, 1000000)); // microseconds past a second
    for (const QByteArray& payload : refused)
        EXPECT_FALSE(DecodeExactly(payload)) << payload.toHex(' ').toStdString();
}

} // namespace
