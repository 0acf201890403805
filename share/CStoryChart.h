#pragma once

#include "CGameStory.h"

#include <QByteArray>
#include <QColor>
#include <QPointF>
#include <QRectF>
#include <QSize>
#include <optional>

class QPainter;

// The game-flow chart: both sides' scores as steps against time, a dot at each score, the
// lead shaded in the leading side's colour, a diamond at each lead change and a dashed line
// at each period. The same drawing goes to the History window and to the web view's SVG.
class CStoryChart {
public:
    static const QColor kHome;
    static const QColor kVisitor;

    explicit CStoryChart(CGameStory story);

    void Paint(QPainter& painter, const QRectF& area) const;
    // A self-contained SVG of `size` pixels.
    QByteArray Svg(QSize size = QSize(960, 400)) const;
    // The moment of the score or lead change drawn within a few pixels of `point`.
    std::optional<CGameStory::Moment> MomentAt(const QRectF& area, QPointF point) const;
    const CGameStory& Story() const { return m_story; }

private:
    struct Scale;
    Scale ScaleFor(const QRectF& area) const;
    void PaintLead(QPainter& painter, const Scale& scale) const;
    void PaintSteps(QPainter& painter, const Scale& scale, CGameStory::Side side) const;
    void PaintPeriods(QPainter& painter, const Scale& scale) const;
    void PaintText(QPainter& painter, const Scale& scale) const;

    CGameStory m_story;
};
