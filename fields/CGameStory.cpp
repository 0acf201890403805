#include "CGameStory.h"

#include "CJsonText.h"

#include <algorithm>

namespace {

using Points = std::vector<CFieldSeries::Point>;

// The value a series had at `time`: its last point at or before it.
QString ValueAt(const Points& series, CGameStory::Time time) {
    const auto after = std::upper_bound(
        series.begin(), series.end(), time,
        [](CGameStory::Time t, const CFieldSeries::Point& point) { return t < point.m_time; });
    return after == series.begin() ? QString() : (after - 1)->m_value;
}

int Sign(int number) {
    return (number > 0) - (number < 0);
}

QByteArray MomentJson(const std::optional<CGameStory::Moment>& moment) {
    if (!moment)
        return "null";
    return CJsonText::Object(
        {{QStringLiteral("time"), CJsonText::String(CFieldSeries::LocalTime(moment->m_time))},
         {QStringLiteral("record"), QByteArray::number(quint64(moment->m_record))},
         {QStringLiteral("clock"), CJsonText::String(moment->m_clock)},
         {QStringLiteral("period"), CJsonText::String(moment->m_period)}});
}

QByteArray ScoreJson(const CGameStory::Score& score, const char* kind) {
    CJsonText::Members members;
    if (kind)
        members.emplace_back(QStringLiteral("kind"), CJsonText::String(QString::fromLatin1(kind)));
    members.insert(
        members.end(),
        {{QStringLiteral("time"), CJsonText::String(CFieldSeries::LocalTime(score.m_time))},
         {QStringLiteral("record"), QByteArray::number(quint64(score.m_record))},
         {QStringLiteral("home"), QByteArray::number(score.m_points[CGameStory::kHome])},
         {QStringLiteral("visitor"), QByteArray::number(score.m_points[CGameStory::kVisitor])}});
    if (kind) {
        members.emplace_back(QStringLiteral("clock"), CJsonText::String(score.m_clock));
        members.emplace_back(QStringLiteral("period"), CJsonText::String(score.m_period));
    }
    return CJsonText::Object(members);
}

} // namespace

CGameStory CGameStory::Of(const Points& home, const Points& visitor, const Points& period,
                          const Points& clock, Time end) {
    CGameStory story;
    story.m_end = end;
    const auto moment = [&](std::uint64_t record, Time time) {
        return Moment{record, time, ValueAt(period, time), ValueAt(clock, time)};
    };
    // Both sides' numeric points, in the journal's order.
    std::vector<std::pair<Side, const CFieldSeries::Point*>> changes;
    for (const auto& [side, series] : {std::pair{kHome, &home}, {kVisitor, &visitor}})
        for (const CFieldSeries::Point& point : *series)
            if (bool number = false; (void)point.m_value.toInt(&number), number)
                changes.emplace_back(side, &point);
    std::stable_sort(changes.begin(), changes.end(), [](const auto& a, const auto& b) {
        return a.second->m_record < b.second->m_record;
    });
    std::array<int, 2> points{};
    std::array<bool, 2> known{};
    int margin = 0; // home's lead
    int leader = 0; // the side that led last: 1 home, -1 visitor
    Run run;
    // The time since the last score goes to the side that led.
    const auto credit = [&](Time until) {
        if (!story.m_scores.empty() && margin != 0 && until > story.m_scores.back().m_time)
            story.m_timeInLead[margin > 0 ? kHome : kVisitor] +=
                std::chrono::duration_cast<std::chrono::seconds>(until -
                                                                 story.m_scores.back().m_time);
    };
    for (const auto& [side, point] : changes) {
        const bool started = known[kHome] && known[kVisitor];
        const int gained = point->m_value.toInt() - points[side];
        points[side] = point->m_value.toInt();
        known[side] = true;
        if (!known[kHome] || !known[kVisitor])
            continue; // the story starts once both sides have a score
        credit(point->m_time);
        const Score score{moment(point->m_record, point->m_time), points};
        story.m_scores.push_back(score);
        const int before = margin;
        margin = points[kHome] - points[kVisitor];
        if (started && margin == 0 && before != 0)
            story.m_ties.push_back(score);
        if (started && Sign(margin) != 0 && leader != 0 && Sign(margin) != leader)
            story.m_leadChanges.push_back(score);
        if (margin != 0)
            leader = Sign(margin);
        for (const Side s : {kHome, kVisitor}) {
            const int lead = s == kHome ? margin : -margin;
            if (lead > story.m_largestLead[s].m_points)
                story.m_largestLead[s] = {lead, score};
        }
        if (!started || gained == 0)
            continue;
        if (gained < 0) { // a score taken back is taken from the run too
            if (run.m_side == side)
                run.m_points = std::max(0, run.m_points + gained);
            continue;
        }
        if (run.m_points == 0 || run.m_side != side)
            run = {side, 0, score, score};
        run.m_points += gained;
        run.m_to = score;
        if (run.m_points > story.m_longestRun.m_points)
            story.m_longestRun = run;
    }
    credit(end);
    for (const CFieldSeries::Point& point : period)
        story.m_periods.push_back({moment(point.m_record, point.m_time)});
    return story;
}

QByteArray CGameStory::ToJson() const {
    const std::array<int, 2> last =
        m_scores.empty() ? std::array<int, 2>{} : m_scores.back().m_points;
    const auto side = [&](Side s) {
        return CJsonText::Object(
            {{QStringLiteral("label"), CJsonText::String(m_labels[s])},
             {QStringLiteral("score"), QByteArray::number(last[s])},
             {QStringLiteral("largest_lead"),
              CJsonText::Object(
                  {{QStringLiteral("points"), QByteArray::number(m_largestLead[s].m_points)},
                   {QStringLiteral("at"), MomentJson(m_largestLead[s].m_at)}})},
             {QStringLiteral("seconds_in_lead"),
              QByteArray::number(qint64(m_timeInLead[s].count()))}});
    };
    std::vector<QByteArray> events;
    std::vector<std::pair<const Score*, const char*>> ordered;
    for (const Score& score : m_leadChanges)
        ordered.emplace_back(&score, "lead change");
    for (const Score& score : m_ties)
        ordered.emplace_back(&score, "tie");
    std::stable_sort(ordered.begin(), ordered.end(), [](const auto& a, const auto& b) {
        return a.first->m_record < b.first->m_record;
    });
    for (const auto& [score, kind] : ordered)
        events.push_back(ScoreJson(*score, kind));
    std::vector<QByteArray> periods;
    for (const Period& period : m_periods)
        periods.push_back(CJsonText::Object(
            {{QStringLiteral("period"), CJsonText::String(period.m_period)},
             {QStringLiteral("time"), CJsonText::String(CFieldSeries::LocalTime(period.m_time))},
             {QStringLiteral("record"), QByteArray::number(quint64(period.m_record))}}));
    std::vector<QByteArray> scores;
    for (const Score& score : m_scores)
        scores.push_back(ScoreJson(score, nullptr));
    return CJsonText::Object(
        {{QStringLiteral("home"), side(kHome)},
         {QStringLiteral("visitor"), side(kVisitor)},
         {QStringLiteral("lead_changes"), QByteArray::number(qsizetype(m_leadChanges.size()))},
         {QStringLiteral("times_tied"), QByteArray::number(qsizetype(m_ties.size()))},
         {QStringLiteral("longest_run"),
          CJsonText::Object(
              {{QStringLiteral("side"),
                CJsonText::String(m_longestRun.m_side == kHome ? QStringLiteral("home")
                                                               : QStringLiteral("visitor"))},
               {QStringLiteral("points"), QByteArray::number(m_longestRun.m_points)},
               {QStringLiteral("from"), MomentJson(m_longestRun.m_from)},
               {QStringLiteral("to"), MomentJson(m_longestRun.m_to)}})},
         {QStringLiteral("events"), CJsonText::Array(events)},
         {QStringLiteral("periods"), CJsonText::Array(periods)},
         {QStringLiteral("scores"), CJsonText::Array(scores)}});
}
