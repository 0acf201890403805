#pragma once

#include "CFieldDefinitions.h"
#include "CJournalIndex.h"

#include <QByteArray>
#include <QString>
#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

// A field's values over time, read back from the journal: one point per change, with the
// record's time and number. Only moments at which the field's `when` holds are read; a value
// that stood for less than kSettle (cells caught half-written, a board being redrawn) is no
// change. A field defined after the game reads the same as one defined before: it needs only
// the journal and its definition. What was read of each block of the journal is kept, so the
// series of a growing journal asked again reads only what is new.
class CFieldSeries {
public:
    using Time = CJournalIndex::Time;
    static constexpr std::chrono::milliseconds kSettle{200};

    struct Point {
        std::uint64_t m_record = 0;
        Time m_time{};
        QString m_value;
        // False only for the value a span starts with when the field's page was not shown
        // then: the value is the one it last had.
        bool m_current = true;
        bool operator==(const Point&) const = default;
    };

    // The series of `name`: a field, or a table's cell as TABLE.ROW.COLUMN (ROW counted from
    // 1 within the table). Nullopt and *problem when the definitions have no such name.
    static std::optional<CFieldSeries> Of(const CFieldDefinitions& definitions, const QString& name,
                                          QString* problem);

    // The points from `from` to `to` (the whole journal without them): the value held at
    // `from` first, then each change. Nullopt when a journal file can no longer be read. Not
    // for two threads at once.
    std::optional<std::vector<Point>> Points(const CJournalIndex& index,
                                             std::optional<Time> from = std::nullopt,
                                             std::optional<Time> to = std::nullopt) const;

    const CFieldDefinitions::Field& Field() const { return m_field; }

    // "time,value,current" and one line per point; the time is local, ISO 8601 with
    // milliseconds, and a value with a comma, quote or line break is quoted.
    static QByteArray Csv(const std::vector<Point>& points);
    // [{"time": ISO, "ms": MILLISECONDS SINCE 1970, "record": N, "value": TEXT,
    // "current": BOOL}...]
    static QByteArray Json(const std::vector<Point>& points);
    static QString LocalTime(Time time);

private:
    // The field as one record left it: its value, or none when its `when` did not hold.
    struct Reading {
        std::uint64_t m_record = 0;
        Time m_time{};
        std::optional<QString> m_value;
    };

    explicit CFieldSeries(CFieldDefinitions::Field field) : m_field(std::move(field)) {}
    bool Read(const CJournalIndex& index) const;
    std::vector<Point> Settled() const;
    std::vector<CJournalIndex::Cells> Watched() const;

    CFieldDefinitions::Field m_field; // a table's cell as a field of one row
    // Per block of the index: its first record and time, and the readings where the field's
    // cells changed.
    mutable std::vector<std::pair<std::uint64_t, Time>> m_blockStarts;
    mutable std::vector<std::vector<Reading>> m_readings;
};
