#pragma once

#include "CTtyrecReader.h"
#include "CTtyrecRecord.h"

#include <QByteArray>
#include <QByteArrayView>
#include <optional>

// What the line and keyframe topics carry: a sequence number (8 bytes, little-endian) and a
// ttyrec record, the journal's own, with the time and the bytes. A line record's number counts
// the chunks read from the line, from 1; a keyframe holds the screen as commands and the
// number of the last chunk it includes.
struct CMqttRecord {
    static constexpr qsizetype kSequenceSize = 8;
    // The largest payload: a record as long as the journal's own bound.
    static constexpr qsizetype kMaxSize =
        kSequenceSize + qsizetype(CTtyrecRecord::kHeaderSize) + CTtyrecReader::kMaxLength;

    quint64 m_sequence = 0;
    CTtyrecRecord::Time m_time{};
    QByteArray m_bytes;

    QByteArray Encode() const;
    // Nothing for a payload that is not one whole record, or is longer than kMaxSize.
    static std::optional<CMqttRecord> Decode(QByteArrayView payload);
};
