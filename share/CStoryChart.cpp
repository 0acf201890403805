#include "CStoryChart.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QSvgGenerator>
#include <algorithm>

const QColor CStoryChart::kHome(0x1f, 0x5f, 0xbf);
const QColor CStoryChart::kVisitor(0xc8, 0x3a, 0x2a);

namespace {

constexpr double kDot = 3.5;
constexpr double kReach = 6; // pixels a click may miss a dot by

QColor SideColor(CGameStory::Side side) {
    return side == CGameStory::kHome ? CStoryChart::kHome : CStoryChart::kVisitor;
}

// Text needs fonts, which only a GUI application has (the relay has none).
bool CanWrite() {
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
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

void CStoryChart::Paint(QPainter& painter, const QRectF& area) const {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(area, Qt::white);
    const Scale scale = ScaleFor(area);
    painter.setPen(QPen(QColor(0x88, 0x88, 0x88), 1));
    painter.drawLine(scale.m_plot.bottomLeft(), scale.m_plot.bottomRight());
    painter.drawLine(scale.m_plot.bottomLeft(), scale.m_plot.topLeft());
    if (!m_story.m_scores.empty()) {
        PaintLead(painter, scale);
        PaintPeriods(painter, scale);
        PaintSteps(painter, scale, CGameStory::kHome);
        PaintSteps(painter, scale, CGameStory::kVisitor);
    }
    if (CanWrite())
        PaintText(painter, scale);
    painter.restore();
}

// Between each score and the next, the band between the two lines in the leader's colour.
void CStoryChart::PaintLead(QPainter& painter, const Scale& scale) const {
    const auto& scores = m_story.m_scores;
    for (std::size_t i = 0; i < scores.size(); ++i) {
        const int home = scores[i].m_points[CGameStory::kHome];
        const int visitor = scores[i].m_points[CGameStory::kVisitor];
        if (home == visitor)
            continue;
        const CGameStory::Time until = i + 1 < scores.size() ? scores[i + 1].m_time : m_story.m_end;
        QColor color = SideColor(home > visitor ? CGameStory::kHome : CGameStory::kVisitor);
        color.setAlpha(48);
        painter.fillRect(
            QRectF(QPointF(scale.X(scores[i].m_time), scale.Y(std::max(home, visitor))),
                   QPointF(scale.X(until), scale.Y(std::min(home, visitor)))),
            color);
    }
}

// The side's score as steps, a dot where it rose or fell, a diamond at each lead change.
void CStoryChart::PaintSteps(QPainter& painter, const Scale& scale, CGameStory::Side side) const {
    const auto& scores = m_story.m_scores;
    QPainterPath steps;
    steps.moveTo(scale.X(scores.front().m_time), scale.Y(scores.front().m_points[side]));
    for (std::size_t i = 1; i < scores.size(); ++i) {
        steps.lineTo(scale.X(scores[i].m_time), steps.currentPosition().y());
        steps.lineTo(scale.X(scores[i].m_time), scale.Y(scores[i].m_points[side]));
    }
    steps.lineTo(scale.X(m_story.m_end), steps.currentPosition().y());
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(SideColor(side), 2));
    painter.drawPath(steps);
    painter.setPen(Qt::NoPen);
    painter.setBrush(SideColor(side));
    for (std::size_t i = 1; i < scores.size(); ++i)
        if (scores[i].m_points[side] != scores[i - 1].m_points[side])
            painter.drawEllipse(
                QPointF(scale.X(scores[i].m_time), scale.Y(scores[i].m_points[side])), kDot, kDot);
    painter.setBrush(Qt::black);
    for (const CGameStory::Score& change : m_story.m_leadChanges) {
        const int points = change.m_points[side];
        if (points < change.m_points[1 - side])
            continue; // drawn once, on the side that went ahead
        const QPointF at(scale.X(change.m_time), scale.Y(points) - 10);
        painter.drawPolygon(QPolygonF(
            {at + QPointF(0, -5), at + QPointF(5, 0), at + QPointF(0, 5), at + QPointF(-5, 0)}));
    }
}

void CStoryChart::PaintPeriods(QPainter& painter, const Scale& scale) const {
    painter.setPen(QPen(QColor(0x66, 0x66, 0x66), 1, Qt::DashLine));
    for (const CGameStory::Period& period : m_story.m_periods) {
        const double x = scale.X(period.m_time);
        painter.drawLine(QPointF(x, scale.m_plot.top()), QPointF(x, scale.m_plot.bottom()));
    }
}

// The two sides and their scores above, the score axis, the periods' names and the clock
// times of the first and last moments below.
void CStoryChart::PaintText(QPainter& painter, const Scale& scale) const {
    QFont font = painter.font();
    font.setPixelSize(13);
    painter.setFont(font);
    const std::array<int, 2> last =
        m_story.m_scores.empty() ? std::array<int, 2>{} : m_story.m_scores.back().m_points;
    double x = scale.m_plot.left();
    for (const CGameStory::Side side : {CGameStory::kHome, CGameStory::kVisitor}) {
        const QString text = QStringLiteral("%1 %2").arg(m_story.m_labels[side]).arg(last[side]);
        painter.setPen(SideColor(side));
        painter.drawText(QPointF(x, scale.m_plot.top() - 14), text);
        x += painter.fontMetrics().horizontalAdvance(text) + 24;
    }
    painter.setPen(QColor(0x44, 0x44, 0x44));
    const int every = std::max(1, scale.m_top / 6);
    for (int points = 0; points <= scale.m_top; points += every)
        painter.drawText(QRectF(scale.m_plot.left() - 40, scale.Y(points) - 8, 34, 16),
                         Qt::AlignRight | Qt::AlignVCenter, QString::number(points));
    for (const CGameStory::Period& period : m_story.m_periods)
        painter.drawText(QPointF(scale.X(period.m_time) + 4, scale.m_plot.top() + 12),
                         QStringLiteral("P%1").arg(period.m_period));
    if (m_story.m_scores.empty())
        return;
    const auto clockText = [](CGameStory::Time time) {
        return CFieldSeries::LocalTime(time).mid(11, 8);
    };
    painter.drawText(QRectF(scale.m_plot.left(), scale.m_plot.bottom() + 4, 120, 20),
                     Qt::AlignLeft | Qt::AlignTop, clockText(scale.m_first));
    painter.drawText(QRectF(scale.m_plot.right() - 120, scale.m_plot.bottom() + 4, 120, 20),
                     Qt::AlignRight | Qt::AlignTop, clockText(m_story.m_end));
}

QByteArray CStoryChart::Svg(QSize size) const {
    QBuffer buffer;
    QSvgGenerator generator;
    generator.setOutputDevice(&buffer);
    generator.setSize(size);
    // The size is written in millimetres: at the browsers' 96 pixels an inch they are `size`.
    generator.setResolution(96);
    generator.setViewBox(QRect(QPoint(0, 0), size));
    generator.setTitle(QStringLiteral("%1 - %2").arg(m_story.m_labels[0], m_story.m_labels[1]));
    QPainter painter(&generator);
    Paint(painter, QRectF(QPointF(0, 0), size));
    painter.end();
    return buffer.data();
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
