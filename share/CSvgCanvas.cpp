#include "CSvgCanvas.h"

CSvgCanvas::CSvgCanvas(QSize size, const QString& title) : m_writer(&m_svg) {
    m_writer.writeStartDocument();
    m_writer.writeCharacters(QStringLiteral("\n"));
    m_writer.writeStartElement(QStringLiteral("svg"));
    m_writer.writeDefaultNamespace(QStringLiteral("http://www.w3.org/2000/svg"));
    m_writer.writeAttribute(QStringLiteral("version"), QStringLiteral("1.1"));
    Number(QStringLiteral("width"), size.width());
    Number(QStringLiteral("height"), size.height());
    m_writer.writeAttribute(QStringLiteral("viewBox"),
                            QStringLiteral("0 0 %1 %2").arg(size.width()).arg(size.height()));
    m_writer.writeCharacters(QStringLiteral("\n"));
    m_writer.writeTextElement(QStringLiteral("title"), title);
    m_writer.writeCharacters(QStringLiteral("\n"));
}

void CSvgCanvas::Line(QPointF from, QPointF to, Color color, double width, bool dashed) {
    m_writer.writeStartElement(QStringLiteral("line"));
    Number(QStringLiteral("x1"), from.x());
    Number(QStringLiteral("y1"), from.y());
    Number(QStringLiteral("x2"), to.x());
    Number(QStringLiteral("y2"), to.y());
    Stroke(color, width);
    if (dashed) // as Qt's dash: 4 on, 2 off, in line widths
        m_writer.writeAttribute(QStringLiteral("stroke-dasharray"),
                                QStringLiteral("%1 %2").arg(4 * width).arg(2 * width));
    End();
}

void CSvgCanvas::Polyline(const std::vector<QPointF>& points, Color color, double width) {
    m_writer.writeStartElement(QStringLiteral("polyline"));
    Points(points);
    m_writer.writeAttribute(QStringLiteral("fill"), QStringLiteral("none"));
    Stroke(color, width);
    End();
}

void CSvgCanvas::Polygon(const std::vector<QPointF>& points, Color fill, double opacity) {
    m_writer.writeStartElement(QStringLiteral("polygon"));
    Points(points);
    m_writer.writeAttribute(QStringLiteral("fill"), fill.Name());
    if (opacity < 1)
        Number(QStringLiteral("fill-opacity"), opacity);
    End();
}

void CSvgCanvas::Circle(QPointF center, double radius, Color fill) {
    m_writer.writeStartElement(QStringLiteral("circle"));
    Number(QStringLiteral("cx"), center.x());
    Number(QStringLiteral("cy"), center.y());
    Number(QStringLiteral("r"), radius);
    m_writer.writeAttribute(QStringLiteral("fill"), fill.Name());
    End();
}

// One text element, so that the viewer lays the spans out with its own font's widths.
void CSvgCanvas::Text(QPointF at, Anchor anchor, int pixelSize, const std::vector<Span>& spans,
                      double gap) {
    static const QString kAnchors[] = {QStringLiteral("start"), QStringLiteral("middle"),
                                       QStringLiteral("end")};
    m_writer.writeStartElement(QStringLiteral("text"));
    Number(QStringLiteral("x"), at.x());
    Number(QStringLiteral("y"), at.y());
    m_writer.writeAttribute(QStringLiteral("font-family"), QStringLiteral("sans-serif"));
    Number(QStringLiteral("font-size"), pixelSize);
    if (anchor != Anchor::kStart)
        m_writer.writeAttribute(QStringLiteral("text-anchor"), kAnchors[int(anchor)]);
    for (const Span& span : spans) {
        m_writer.writeStartElement(QStringLiteral("tspan"));
        if (&span != &spans.front())
            Number(QStringLiteral("dx"), gap);
        m_writer.writeAttribute(QStringLiteral("fill"), span.m_color.Name());
        m_writer.writeCharacters(span.m_text);
        m_writer.writeEndElement();
    }
    End();
}

QByteArray CSvgCanvas::Svg() {
    m_writer.writeEndDocument();
    return m_svg;
}

// Square ends and bevelled corners, as a QPen draws them.
void CSvgCanvas::Stroke(Color color, double width) {
    m_writer.writeAttribute(QStringLiteral("stroke"), color.Name());
    Number(QStringLiteral("stroke-width"), width);
    m_writer.writeAttribute(QStringLiteral("stroke-linecap"), QStringLiteral("square"));
    m_writer.writeAttribute(QStringLiteral("stroke-linejoin"), QStringLiteral("bevel"));
}

void CSvgCanvas::Number(const QString& name, double value) {
    m_writer.writeAttribute(name, QString::number(value, 'g', 8));
}

void CSvgCanvas::Points(const std::vector<QPointF>& points) {
    QStringList pairs;
    for (const QPointF& point : points)
        pairs.append(QStringLiteral("%1,%2").arg(point.x(), 0, 'g', 8).arg(point.y(), 0, 'g', 8));
    m_writer.writeAttribute(QStringLiteral("points"), pairs.join(QLatin1Char(' ')));
}

// Each shape on a line of its own, for a person reading the file.
void CSvgCanvas::End() {
    m_writer.writeEndElement();
    m_writer.writeCharacters(QStringLiteral("\n"));
}
