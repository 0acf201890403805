#include "CPainterCanvas.h"

#include <QPainter>

namespace {

QColor ToQColor(CChartCanvas::Color color, double opacity = 1) {
    QColor qcolor(color.m_red, color.m_green, color.m_blue);
    qcolor.setAlphaF(float(opacity));
    return qcolor;
}

} // namespace

CPainterCanvas::CPainterCanvas(QPainter& painter) : m_painter(painter) {
    m_painter.save();
    m_painter.setRenderHint(QPainter::Antialiasing);
}

CPainterCanvas::~CPainterCanvas() {
    m_painter.restore();
}

void CPainterCanvas::Line(QPointF from, QPointF to, Color color, double width, bool dashed) {
    m_painter.setPen(QPen(ToQColor(color), width, dashed ? Qt::DashLine : Qt::SolidLine));
    m_painter.drawLine(from, to);
}

void CPainterCanvas::Polyline(const std::vector<QPointF>& points, Color color, double width) {
    m_painter.setPen(QPen(ToQColor(color), width));
    m_painter.drawPolyline(points.data(), int(points.size()));
}

void CPainterCanvas::Polygon(const std::vector<QPointF>& points, Color fill, double opacity) {
    m_painter.setPen(Qt::NoPen);
    m_painter.setBrush(ToQColor(fill, opacity));
    m_painter.drawPolygon(points.data(), int(points.size()));
}

void CPainterCanvas::Circle(QPointF center, double radius, Color fill) {
    m_painter.setPen(Qt::NoPen);
    m_painter.setBrush(ToQColor(fill));
    m_painter.drawEllipse(center, radius, radius);
}

void CPainterCanvas::Text(QPointF at, Anchor anchor, int pixelSize, const std::vector<Span>& spans,
                          double gap) {
    QFont font = m_painter.font();
    font.setPixelSize(pixelSize);
    m_painter.setFont(font);
    const QFontMetricsF metrics(font);
    double width = gap * double(spans.empty() ? 0 : spans.size() - 1);
    for (const Span& span : spans)
        width += metrics.horizontalAdvance(span.m_text);
    double x = at.x() - (anchor == Anchor::kEnd      ? width
                         : anchor == Anchor::kMiddle ? width / 2
                                                     : 0);
    for (const Span& span : spans) {
        m_painter.setPen(ToQColor(span.m_color));
        m_painter.drawText(QPointF(x, at.y()), span.m_text);
        x += metrics.horizontalAdvance(span.m_text) + gap;
    }
}
