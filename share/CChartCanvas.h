#pragma once

#include <QPointF>
#include <QString>
#include <cstdint>
#include <vector>

// What a chart is drawn on: a few shapes in pixels, so that one drawing serves a widget
// (QPainter) and a self-contained SVG written without Qt Gui (the relay has none).
class CChartCanvas {
public:
    struct Color {
        std::uint8_t m_red = 0;
        std::uint8_t m_green = 0;
        std::uint8_t m_blue = 0;
        // #rrggbb
        QString Name() const;
    };
    // Where a text's point lies along it.
    enum class Anchor { kStart, kMiddle, kEnd };
    // A piece of text in a colour of its own.
    struct Span {
        QString m_text;
        Color m_color;
    };

    virtual ~CChartCanvas() = default;

    virtual void Line(QPointF from, QPointF to, Color color, double width, bool dashed) = 0;
    virtual void Polyline(const std::vector<QPointF>& points, Color color, double width) = 0;
    // Filled, without an outline; opacity from 0 (none) to 1.
    virtual void Polygon(const std::vector<QPointF>& points, Color fill, double opacity) = 0;
    virtual void Circle(QPointF center, double radius, Color fill) = 0;
    // Spans one after another, `gap` pixels apart, on the baseline through `at`, in a
    // sans-serif font of `pixelSize`.
    virtual void Text(QPointF at, Anchor anchor, int pixelSize, const std::vector<Span>& spans,
                      double gap = 0) = 0;
};
