#pragma once

#include "CChartCanvas.h"

class QPainter;

// A chart drawn with a QPainter (History's Story view), antialiased, text in the painter's
// font family.
class CPainterCanvas : public CChartCanvas {
public:
    explicit CPainterCanvas(QPainter& painter);
    ~CPainterCanvas() override;

    void Line(QPointF from, QPointF to, Color color, double width, bool dashed) override;
    void Polyline(const std::vector<QPointF>& points, Color color, double width) override;
    void Polygon(const std::vector<QPointF>& points, Color fill, double opacity) override;
    void Circle(QPointF center, double radius, Color fill) override;
    void Text(QPointF at, Anchor anchor, int pixelSize, const std::vector<Span>& spans,
              double gap) override;

private:
    QPainter& m_painter;
};
