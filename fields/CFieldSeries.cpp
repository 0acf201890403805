#include "CFieldSeries.h"

#include "CFieldValues.h"
#include "CJsonText.h"

#include <QDateTime>
#include <algorithm>

std::optional<CFieldSeries> CFieldSeries::Of(const CFieldDefinitions& definitions,
                                             const QString& name, QString* problem) {
    if (std::optional<CFieldDefinitions::Field> field = definitions.FieldOrCell(name))
        return CFieldSeries(std::move(*field));
    *problem =
        QStringLiteral("no field or table cell is named %1").arg(CFieldDefinitions::Quoted(name));
    return std::nullopt;
}

std::vector<CJournalIndex::Cells> CFieldSeries::Watched() const {
    std::vector<CJournalIndex::Cells> cells;
    for (int row = m_field.m_row; row < m_field.m_row + m_field.m_height; ++row)
        cells.push_back({row - 1, m_field.m_column - 1, m_field.m_width});
    if (m_field.m_when)
        cells.push_back({m_field.m_when->m_row - 1, m_field.m_when->m_column - 1,
                         int(m_field.m_when->m_text.size())});
    return cells;
}

// Reads the blocks not read before, and the last one read, which may have grown since.
bool CFieldSeries::Read(const CJournalIndex& index) const {
    const std::size_t blocks = index.BlockCount();
    std::size_t kept = 0;
    while (kept + 1 < m_blockStarts.size() && kept < blocks &&
           m_blockStarts[kept] == index.BlockStart(kept))
        ++kept;
    m_blockStarts.resize(blocks);
    m_readings.resize(blocks);
    for (std::size_t b = kept; b < blocks; ++b) {
        m_blockStarts[b] = index.BlockStart(b);
        m_readings[b].clear();
    }
    const auto seen = [this](std::size_t block, std::uint64_t record, Time time,
                             const CTerminalScreen& screen) {
        m_readings[block].push_back({record, time, CFieldValues::FieldOn(m_field, screen)});
    };
    if (index.Follow(Watched(), kept, seen))
        return true;
    m_blockStarts.clear();
    m_readings.clear();
    return false;
}

// Every settled change over the journal. A new value is a candidate until the next change: it
// is kept when it stood for kSettle, and dropped as a passing state otherwise.
std::vector<CFieldSeries::Point> CFieldSeries::Settled() const {
    std::vector<Point> points;
    std::optional<Point> candidate;
    for (const std::vector<Reading>& block : m_readings) {
        for (const Reading& reading : block) {
            if (!reading.m_value)
                continue;
            const QString& value = *reading.m_value;
            if (candidate ? candidate->m_value == value
                          : !points.empty() && points.back().m_value == value)
                continue;
            if (candidate && reading.m_time - candidate->m_time >= kSettle)
                points.push_back(*candidate);
            candidate.reset();
            if (points.empty() || points.back().m_value != value)
                candidate = Point{reading.m_record, reading.m_time, value, true};
        }
    }
    if (candidate)
        points.push_back(*candidate);
    return points;
}

std::optional<std::vector<CFieldSeries::Point>> CFieldSeries::Points(const CJournalIndex& index,
                                                                     std::optional<Time> from,
                                                                     std::optional<Time> to) const {
    if (!Read(index))
        return std::nullopt;
    const std::vector<Point> all = Settled();
    const auto after = std::find_if(
        all.begin(), all.end(), [&](const Point& point) { return !from || point.m_time >= *from; });
    std::vector<Point> points;
    if (after != all.begin()) {
        // The value held when the span begins, current when its page was shown then.
        const std::uint64_t record = *index.RecordAt(*from);
        const std::optional<CJournalIndex::Moment> moment = index.At(record);
        if (!moment)
            return std::nullopt;
        points.push_back(Point{record, std::max(*from, moment->m_time), (after - 1)->m_value,
                               CFieldValues::FieldOn(m_field, *moment->m_screen).has_value()});
    }
    for (auto point = after; point != all.end() && (!to || point->m_time <= *to); ++point)
        points.push_back(*point);
    return points;
}

QString CFieldSeries::LocalTime(Time time) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch());
    return QDateTime::fromMSecsSinceEpoch(ms.count()).toString(Qt::ISODateWithMs);
}

QByteArray CFieldSeries::Csv(const std::vector<Point>& points) {
    QByteArray csv = "time,value,current\n";
    for (const Point& point : points) {
        QString value = point.m_value;
        if (value.contains(QLatin1Char(',')) || value.contains(QLatin1Char('"')) ||
            value.contains(QLatin1Char('\n')))
            value = QLatin1Char('"') + value.replace(QLatin1Char('"'), QStringLiteral("\"\"")) +
                    QLatin1Char('"');
        csv += LocalTime(point.m_time).toUtf8() + ',' + value.toUtf8() + ',' +
               (point.m_current ? "true" : "false") + '\n';
    }
    return csv;
}

QByteArray CFieldSeries::Json(const std::vector<Point>& points) {
    std::vector<QByteArray> array;
    for (const Point& point : points) {
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(point.m_time.time_since_epoch());
        array.push_back(CJsonText::Object(
            {{QStringLiteral("time"), CJsonText::String(LocalTime(point.m_time))},
             {QStringLiteral("ms"), QByteArray::number(qint64(ms.count()))},
             {QStringLiteral("record"), QByteArray::number(quint64(point.m_record))},
             {QStringLiteral("value"), CJsonText::String(point.m_value)},
             {QStringLiteral("current"), CJsonText::Bool(point.m_current)}}));
    }
    return CJsonText::Array(array);
}
