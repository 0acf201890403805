#include "CFieldOverlay.h"

#include "CTerminalScreen.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QToolTip>
#include <algorithm>
#include <cmath>

namespace {

constexpr int kPenWidth = 2;
constexpr int kFillAlpha = 60;

QRect Spanned(QPoint a, QPoint b) {
    return QRect(a, b).normalized();
}

} // namespace

CFieldOverlay::CFieldOverlay(QListWidget* list) : QWidget(list->viewport()), m_list(list) {
    setObjectName(QStringLiteral("fieldOverlay"));
    setAttribute(Qt::WA_NoSystemBackground);
    setGeometry(list->viewport()->rect());
    list->viewport()->installEventFilter(this);
    for (QScrollBar* bar : {list->horizontalScrollBar(), list->verticalScrollBar()})
        connect(bar, &QScrollBar::valueChanged, this, qOverload<>(&QWidget::update));
}

void CFieldOverlay::SetShapes(std::vector<Shape> shapes, int selected) {
    m_shapes = std::move(shapes);
    m_selected = selected;
    update();
}

void CFieldOverlay::SetMarked(std::optional<Shape> marked) {
    m_marked = std::move(marked);
    update();
}

void CFieldOverlay::SetMoving(bool moving) {
    m_moving = moving;
}

// Cells start where the list's delegate starts a row's text: the item's left edge plus the
// style's text margin, so they line up with the characters the list draws.
CFieldOverlay::Grid CFieldOverlay::CurrentGrid() const {
    const QRect first = m_list->visualRect(m_list->model()->index(0, 0));
    const int margin = m_list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, m_list);
    const QFontMetricsF metrics(m_list->font());
    const qreal width =
        metrics.horizontalAdvance(QString(CTerminalScreen::kCols, QLatin1Char('M'))) /
        CTerminalScreen::kCols;
    return {QPointF(first.left() + margin + 1, first.top()),
            QSizeF(width, first.height() > 0 ? first.height() : metrics.height())};
}

QRect CFieldOverlay::Grid::Rect(const QRect& cells) const {
    const QPointF topLeft(m_origin.x() + cells.x() * m_cell.width(),
                          m_origin.y() + cells.y() * m_cell.height());
    return QRectF(topLeft, QSizeF(cells.width() * m_cell.width(), cells.height() * m_cell.height()))
        .toAlignedRect();
}

QPoint CFieldOverlay::CellAt(QPoint at) const {
    const Grid grid = CurrentGrid();
    const int col =
        static_cast<int>(std::floor((at.x() - grid.m_origin.x()) / grid.m_cell.width()));
    const int row =
        static_cast<int>(std::floor((at.y() - grid.m_origin.y()) / grid.m_cell.height()));
    return {std::clamp(col, 0, CTerminalScreen::kCols - 1),
            std::clamp(row, 0, CTerminalScreen::kRows - 1)};
}

QRect CFieldOverlay::CellRect(const QRect& cells) const {
    return CurrentGrid().Rect(cells);
}

bool CFieldOverlay::event(QEvent* event) {
    if (event->type() != QEvent::ToolTip)
        return QWidget::event(event);
    const auto* help = static_cast<QHelpEvent*>(event);
    const QPoint cell = CellAt(help->pos());
    QStringList names;
    for (const Shape& shape : m_shapes)
        if (shape.m_cells.contains(cell))
            names << shape.m_name;
    if (names.isEmpty())
        QToolTip::hideText();
    else
        QToolTip::showText(help->globalPos(), names.join(QStringLiteral(", ")), this);
    return true;
}

bool CFieldOverlay::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_list->viewport() && event->type() == QEvent::Resize)
        setGeometry(m_list->viewport()->rect());
    return QWidget::eventFilter(watched, event);
}

bool CFieldOverlay::MovingSelected() const {
    return m_moving && m_pressed && m_selected >= 0 &&
           m_shapes[static_cast<std::size_t>(m_selected)].m_cells.contains(*m_pressed);
}

void CFieldOverlay::DrawShape(QPainter& painter, const Grid& grid, const Shape& shape,
                              const QColor& colour, bool filled) {
    const QRect area = grid.Rect(shape.m_cells);
    if (filled) {
        QColor fill = colour;
        fill.setAlpha(kFillAlpha);
        painter.fillRect(area, fill);
    }
    painter.setPen(QPen(colour, kPenWidth));
    painter.drawRect(area);
    for (int column : shape.m_breaks) {
        const int x = grid.Rect(QRect(column, shape.m_cells.y(), 1, 1)).left();
        painter.drawLine(x, area.top(), x, area.bottom());
    }
}

void CFieldOverlay::paintEvent(QPaintEvent*) {
    if (m_list->count() == 0)
        return;
    QPainter painter(this);
    const Grid grid = CurrentGrid();
    const QColor shapes = palette().color(QPalette::Highlight);
    for (std::size_t i = 0; i < m_shapes.size(); ++i)
        DrawShape(painter, grid, m_shapes[i], shapes, static_cast<int>(i) == m_selected);
    if (m_selected >= 0)
        if (const std::optional<QRect>& page = m_shapes[std::size_t(m_selected)].m_page) {
            painter.setPen(QPen(shapes, kPenWidth, Qt::DashLine));
            painter.drawRect(grid.Rect(*page));
        }
    const QColor marking = palette().color(QPalette::Link);
    if (MovingSelected()) {
        Shape moved = m_shapes[static_cast<std::size_t>(m_selected)];
        const QPoint offset = m_current - *m_pressed;
        moved.m_cells.translate(offset);
        for (int& column : moved.m_breaks)
            column += offset.x();
        DrawShape(painter, grid, moved, marking, false);
    } else if (m_pressed) {
        DrawShape(painter, grid, {Spanned(*m_pressed, m_current), {}, {}, {}}, marking, true);
    } else if (m_marked) {
        DrawShape(painter, grid, *m_marked, marking, true);
    }
}

void CFieldOverlay::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || m_list->count() == 0)
        return;
    m_pressed = m_current = CellAt(event->position().toPoint());
    update();
}

void CFieldOverlay::mouseMoveEvent(QMouseEvent* event) {
    if (!m_pressed)
        return;
    const QPoint cell = CellAt(event->position().toPoint());
    if (cell == m_current)
        return;
    m_current = cell;
    update();
}

void CFieldOverlay::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !m_pressed)
        return;
    m_current = CellAt(event->position().toPoint());
    const bool moving = MovingSelected();
    const QPoint start = *std::exchange(m_pressed, std::nullopt);
    update();
    if (m_current == start)
        emit Clicked(start);
    else if (moving)
        emit MoveAsked(m_current - start);
    else
        emit Marked(Spanned(start, m_current));
}
