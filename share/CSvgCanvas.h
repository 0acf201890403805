#pragma once

#include "CChartCanvas.h"

#include <QByteArray>
#include <QSize>
#include <QXmlStreamWriter>

// A chart written as a self-contained SVG of `size` pixels, with Qt Core alone: text is left to
// the viewer's sans-serif font, as there may be no fonts where it is written.
class CSvgCanvas : public CChartCanvas {
public:
    CSvgCanvas(QSize size, const QString& title);

    void Line(QPointF from, QPointF to, Color color, double width, bool dashed) override;
    void Polyline(const std::vector<QPointF>& points, Color color, double width) override;
    void Polygon(const std::vector<QPointF>& points, Color fill, double opacity) override;
    void Circle(QPointF center, double radius, Color fill) override;
    void Text(QPointF at, Anchor anchor, int pixelSize, const std::vector<Span>& spans,
              double gap) override;
    // The document, ended; nothing may be drawn after.
    QByteArray Svg();

private:
    void Stroke(Color color, double width);
    void Number(const QString& name, double value);
    void Points(const std::vector<QPointF>& points);
    void End();

    QByteArray m_svg;
    QXmlStreamWriter m_writer;
};
