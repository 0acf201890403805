#include "CStoryChart.h"

#include "CSvgCanvas.h"

#include <QLineF>
#include <algorithm>

namespace {

using Color = CChartCanvas::Color;
using Anchor = CChartCanvas::Anchor;

constexpr Color kHome{0x1f, 0x5f, 0xbf};
constexpr Color kVisitor{0xc8, 0x3a, 0x2a};
constexpr Color kAxis{0x88, 0x88, 0x88};
constexpr Color kPeriod{0x66, 0x66, 0x66};
constexpr Color kLabel{0x44, 0x44, 0x44};
constexpr double kDot = 3.5;
constexpr double kReach = 6; // pixels a click may miss a dot by
constexpr int kFont = 13;
// From the baseline of a sans-serif font of kFont pixels to its top and to its middle.
constexpr double kAscent = 12;
constexpr double kMiddle = 4.5;

Color SideColor(CGameStory::Side side) {
    return side == CGameStory::kHome ? kHome : kVisitor;
}

std::vector<QPointF> Corners(const QRectF& rect) {
    return {rect.topLeft(), rect.topRight(), rect.bottomRight(), rect.bottomLeft()};
}

} // namespace

// Where a time and a score fall in the plot.
struct CStoryChart::Scale {
    QRectF m_plot;
    CGameStory::Time m_first{};
    double m_seconds = 1;
    int m_top = 1;

    double X(CGameStory::Time time) const {
        const double seconds = std::chrono::duration<double>(time - m_first).count();
        return m_plot.left() + m_plot.width() * std::clamp(seconds / m_seconds, 0.0, 1.0);
    }
    double Y(int points) const {
        return m_plot.bottom() - m_plot.height() * std::clamp(points, 0, m_top) / m_top;
    }
};

CStoryChart::CStoryChart(CGameStory story) : m_story(std::move(story)) {}

CStoryChart::Scale CStoryChart::ScaleFor(const QRectF& area) const {
    Scale scale;
    scale.m_plot = area.adjusted(44, 34, -16, -30);
    if (m_story.m_scores.empty())
        return scale;
    scale.m_first = m_story.m_scores.front().m_time;
    if (!m_story.m_periods.empty())
        scale.m_first = std::min(scale.m_first, m_story.m_periods.front().m_time);
    const CGameStory::Time last = std::max(m_story.m_end, m_story.m_scores.back().m_time);
    scale.m_seconds = std::max(1.0, std::chrono::duration<double>(last - scale.m_first).count());
    for (const CGameStory::Score& score : m_story.m_scores)
        scale.m_top = std::max({scale.m_top, score.m_points[0] + 1, score.m_points[1] + 1});
    return scale;
}

void CStoryChart::Draw(CChartCanvas& canvas, const QRectF& area) const {
    canvas.Polygon(Corners(area), {0xff, 0xff, 0xff}, 1);
    const Scale scale = ScaleFor(area);
    canvas.Line(scale.m_plot.bottomLeft(), scale.m_plot.bottomRight(), kAxis, 1, false);
    canvas.Line(scale.m_plot.bottomLeft(), scale.m_plot.topLeft(), kAxis, 1, false);
    if (!m_story.m_scores.empty()) {
        DrawLead(canvas, scale);
        DrawPeriods(canvas, scale);
        DrawSteps(canvas, scale, CGameStory::kHome);
        DrawSteps(canvas, scale, CGameStory::kVisitor);
    }
    DrawText(canvas, scale);
}

// Between each score and the next, the band between the two lines in the leader's colour.
void CStoryChart::DrawLead(CChartCanvas& canvas, const Scale& scale) const {
    const auto& scores = m_story.m_scores;
    for (std::size_t i = 0; i < scores.size(); ++i) {
        const int home = scores[i].m_points[CGameStory::kHome];
        const int visitor = scores[i].m_points[CGameStory::kVisitor];
        if (home == visitor)
            continue;
        const CGameStory::Time until = i + 1 < scores.size() ? scores[i + 1].m_time : m_story.m_end;
        canvas.Polygon(
            Corners(QRectF(QPointF(scale.X(scores[i].m_time), scale.Y(std::max(home, visitor))),
                           QPointF(scale.X(until), scale.Y(std::min(home, visitor))))),
            SideColor(home > visitor ? CGameStory::kHome : CGameStory::kVisitor), 48 / 255.0);
    }
}

// The side's score as steps, a dot where it rose or fell, a diamond at each lead change.
void CStoryChart::DrawSteps(CChartCanvas& canvas, const Scale& scale, CGameStory::Side side) const {
    const auto& scores = m_story.m_scores;
    std::vector<QPointF> steps{
        QPointF(scale.X(scores.front().m_time), scale.Y(scores.front().m_points[side]))};
    for (std::size_t i = 1; i < scores.size(); ++i) {
        steps.emplace_back(scale.X(scores[i].m_time), steps.back().y());
        steps.emplace_back(scale.X(scores[i].m_time), scale.Y(scores[i].m_points[side]));
    }
    steps.emplace_back(scale.X(m_story.m_end), steps.back().y());
    canvas.Polyline(steps, SideColor(side), 2);
    for (std::size_t i = 1; i < scores.size(); ++i)
        if (scores[i].m_points[side] != scores[i - 1].m_points[side])
            canvas.Circle(QPointF(scale.X(scores[i].m_time), scale.Y(scores[i].m_points[side])),
                          kDot, SideColor(side));
    for (const CGameStory::Score& change : m_story.m_leadChanges) {
        const int points = change.m_points[side];
        if (points < change.m_points[1 - side])
            continue; // drawn once, on the side that went ahead
        const QPointF at(scale.X(change.m_time), scale.Y(points) - 10);
        canvas.Polygon(
            {at + QPointF(0, -5), at + QPointF(5, 0), at + QPointF(0, 5), at + QPointF(-5, 0)},
            {0, 0, 0}, 1);
    }
}

void CStoryChart::DrawPeriods(CChartCanvas& canvas, const Scale& scale) const {
    for (const CGameStory::Period& period : m_story.m_periods) {
        const double x = scale.X(period.m_time);
        canvas.Line(QPointF(x, scale.m_plot.top()), QPointF(x, scale.m_plot.bottom()), kPeriod, 1,
                    true);
    }
}

// The two sides and their scores above, the score axis, the periods' names and the clock
// times of the first and last moments below.
void CStoryChart::DrawText(CChartCanvas& canvas, const Scale& scale) const {
    const std::array<int, 2> last =
        m_story.m_scores.empty() ? std::array<int, 2>{} : m_story.m_scores.back().m_points;
    std::vector<CChartCanvas::Span> sides;
    for (const CGameStory::Side side : {CGameStory::kHome, CGameStory::kVisitor})
        sides.push_back(
            {QStringLiteral("%1 %2").arg(m_story.m_labels[side]).arg(last[side]), SideColor(side)});
    canvas.Text(QPointF(scale.m_plot.left(), scale.m_plot.top() - 14), Anchor::kStart, kFont, sides,
                24);
    const auto text = [&](QPointF at, Anchor anchor, const QString& text) {
        canvas.Text(at, anchor, kFont, {{text, kLabel}});
    };
    const int every = std::max(1, scale.m_top / 6);
    for (int points = 0; points <= scale.m_top; points += every)
        text(QPointF(scale.m_plot.left() - 6, scale.Y(points) + kMiddle), Anchor::kEnd,
             QString::number(points));
    for (const CGameStory::Period& period : m_story.m_periods)
        text(QPointF(scale.X(period.m_time) + 4, scale.m_plot.top() + 12), Anchor::kStart,
             QStringLiteral("P%1").arg(period.m_period));
    if (m_story.m_scores.empty())
        return;
    const auto clockText = [](CGameStory::Time time) {
        return CFieldSeries::LocalTime(time).mid(11, 8);
    };
    const double below = scale.m_plot.bottom() + 4 + kAscent;
    text(QPointF(scale.m_plot.left(), below), Anchor::kStart, clockText(scale.m_first));
    text(QPointF(scale.m_plot.right(), below), Anchor::kEnd, clockText(m_story.m_end));
}

QByteArray CStoryChart::Svg(QSize size) const {
    CSvgCanvas canvas(size,
                      QStringLiteral("%1 - %2").arg(m_story.m_labels[0], m_story.m_labels[1]));
    Draw(canvas, QRectF(QPointF(0, 0), size));
    return canvas.Svg();
}

std::optional<CGameStory::Moment> CStoryChart::MomentAt(const QRectF& area, QPointF point) const {
    const Scale scale = ScaleFor(area);
    std::optional<CGameStory::Moment> nearest;
    double best = kReach;
    for (const CGameStory::Score& score : m_story.m_scores) {
        for (const CGameStory::Side side : {CGameStory::kHome, CGameStory::kVisitor}) {
            const QPointF dot(scale.X(score.m_time), scale.Y(score.m_points[side]));
            // A lead change's diamond sits above the dot.
            for (const QPointF at : {dot, dot - QPointF(0, 10)}) {
                const double distance = QLineF(at, point).length();
                if (distance <= best) {
                    best = distance;
                    nearest = score;
                }
            }
        }
    }
    return nearest;
}
