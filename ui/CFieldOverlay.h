#pragma once

#include <QPoint>
#include <QRect>
#include <QString>
#include <QWidget>
#include <optional>
#include <vector>

class QListWidget;

// A layer over the rows of a screen list: draws the defined fields and tables as rectangles on
// the character cells, names them in a tooltip and turns the mouse into cells. A drag marks a
// rectangle, a press and release on one cell is a click, and a drag that starts inside the selected
// shape moves it. Cells are 0-based: x the column, y the row.
class CFieldOverlay : public QWidget {
    Q_OBJECT

public:
    struct Shape {
        QRect m_cells;
        std::vector<int> m_breaks; // columns where a table's next column starts
        QString m_name;
        std::optional<QRect> m_page; // where the text of its page stands, outlined when selected
    };

    // Covers the list's viewport and follows its size and scrolling.
    explicit CFieldOverlay(QListWidget* list);

    // selected: index into shapes, or -1.
    void SetShapes(std::vector<Shape> shapes, int selected);
    // The rectangle marked and not yet made anything, with the breaks clicked in it.
    void SetMarked(std::optional<Shape> marked);
    // Whether a drag from inside the selected shape moves it; otherwise it marks, as elsewhere.
    void SetMoving(bool moving);

    // The cell under a point of this widget, kept within the screen.
    QPoint CellAt(QPoint at) const;
    // Where cells are drawn, in this widget's coordinates.
    QRect CellRect(const QRect& cells) const;

signals:
    void Marked(const QRect& cells);
    void Clicked(const QPoint& cell);
    // The selected shape dragged by this many columns (x) and rows (y).
    void MoveAsked(const QPoint& offset);

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    // Where cell (0, 0) starts and a cell's size, in this widget's coordinates.
    struct Grid {
        QPointF m_origin;
        QSizeF m_cell;
        QRect Rect(const QRect& cells) const;
    };

    Grid CurrentGrid() const;
    bool MovingSelected() const;
    static void DrawShape(QPainter& painter, const Grid& grid, const Shape& shape,
                          const QColor& colour, bool filled);

    QListWidget* m_list;
    std::vector<Shape> m_shapes;
    int m_selected = -1;
    bool m_moving = true;
    std::optional<Shape> m_marked;
    std::optional<QPoint> m_pressed; // the cell a drag started on
    QPoint m_current;                // the cell under the mouse during it
};
