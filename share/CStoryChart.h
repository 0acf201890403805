#pragma once

#include "CChartCanvas.h"
#include "CGameStory.h"

#include <QByteArray>
#include <QPointF>
#include <QRectF>
#include <QSize>
#include <optional>

// The game-flow chart: both sides' scores as steps against time, a dot at each score, the
// lead shaded in the leading side's colour, a diamond at each lead change and a dashed line
// at each period. The same drawing goes to the History window and to the web view's SVG,
// which needs no Qt Gui (the relay serves it too).
class CStoryChart {
public:
    explicit CStoryChart(CGameStory story);

    void Draw(CChartCanvas& canvas, const QRectF& area) const;
    // A self-contained SVG of `size` pixels.
    QByteArray Svg(QSize size = QSize(960, 400)) const;
    // The moment of the score or lead change drawn within a few pixels of `point`.
    std::optional<CGameStory::Moment> MomentAt(const QRectF& area, QPointF point) const;
    const CGameStory& Story() const { return m_story; }

private:
    struct Scale;
    Scale ScaleFor(const QRectF& area) const;
    void DrawLead(CChartCanvas& canvas, const Scale& scale) const;
    void DrawSteps(CChartCanvas& canvas, const Scale& scale, CGameStory::Side side) const;
    void DrawPeriods(CChartCanvas& canvas, const Scale& scale) const;
    void DrawText(CChartCanvas& canvas, const Scale& scale) const;

    CGameStory m_story;
};
