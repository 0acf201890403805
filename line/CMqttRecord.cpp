#include "CMqttRecord.h"

#include <QtEndian>
#include <string>

QByteArray CMqttRecord::Encode() const {
    std::string out(kSequenceSize, '\0');
    qToLittleEndian(m_sequence, out.data());
    CTtyrecRecord::Encode(m_time, std::string_view(m_bytes.constData(), m_bytes.size()), out);
    return QByteArray(out.data(), qsizetype(out.size()));
}

std::optional<CMqttRecord> CMqttRecord::Decode(QByteArrayView payload) {
    constexpr qsizetype kHeader = kSequenceSize + qsizetype(CTtyrecRecord::kHeaderSize);
    if (payload.size() < kHeader || payload.size() > kMaxSize)
        return std::nullopt;
    const char* const data = payload.data();
    const auto seconds = qFromLittleEndian<quint32>(data + kSequenceSize);
    const auto micros = qFromLittleEndian<quint32>(data + kSequenceSize + 4);
    const auto length = qFromLittleEndian<quint32>(data + kSequenceSize + 8);
    if (qsizetype(length) != payload.size() - kHeader || micros >= 1000000)
        return std::nullopt;
    CMqttRecord record;
    record.m_sequence = qFromLittleEndian<quint64>(data);
    record.m_time =
        CTtyrecRecord::Time(std::chrono::seconds(seconds) + std::chrono::microseconds(micros));
    record.m_bytes = payload.sliced(kHeader).toByteArray();
    return record;
}
