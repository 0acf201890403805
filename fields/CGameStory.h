#pragma once

#include "CFieldSeries.h"

#include <QByteArray>
#include <QString>
#include <array>
#include <optional>
#include <vector>

// The game's story from the two sides' score series: every score, the periods, and the box
// score's lines: lead changes (the side behind goes ahead; a tie alone is not one), times tied,
// each side's largest lead and when, the longest scoring run and each side's time in the lead.
// A score that is not a number (a board being cleared) is no score.
class CGameStory {
public:
    using Time = CFieldSeries::Time;
    enum Side { kHome, kVisitor };

    // A moment of the game: where it is in the journal, and the board's period and clock then.
    struct Moment {
        std::uint64_t m_record = 0;
        Time m_time{};
        QString m_period;
        QString m_clock;
    };
    struct Score : Moment {
        std::array<int, 2> m_points{}; // home, visitor
    };
    struct Lead {
        int m_points = 0;
        std::optional<Moment> m_at; // when it was first that large
    };
    struct Run {
        Side m_side = kHome;
        int m_points = 0;
        std::optional<Moment> m_from;
        std::optional<Moment> m_to;
    };
    struct Period : Moment {};

    // `end`: the time the story is told up to (the journal's last record).
    static CGameStory Of(const std::vector<CFieldSeries::Point>& home,
                         const std::vector<CFieldSeries::Point>& visitor,
                         const std::vector<CFieldSeries::Point>& period,
                         const std::vector<CFieldSeries::Point>& clock, Time end);

    std::array<QString, 2> m_labels;
    std::vector<Score> m_scores; // the first, then one per change
    std::vector<Period> m_periods;
    std::vector<Score> m_leadChanges;
    std::vector<Score> m_ties;
    std::array<Lead, 2> m_largestLead;
    Run m_longestRun;
    std::array<std::chrono::seconds, 2> m_timeInLead{};
    Time m_end{};

    // {"home": {"label", "score", "largest_lead": {"points", "time", "clock", "period"},
    // "seconds_in_lead"}, "visitor": {...}, "lead_changes", "times_tied", "longest_run":
    // {"side", "points", "from", "to"}, "events": [{"kind": "lead change" | "tie", "time",
    // "record", "home", "visitor", "clock", "period"}], "periods": [{"period", "time",
    // "record"}], "scores": [{"time", "record", "home", "visitor"}]}
    QByteArray ToJson() const;
};
