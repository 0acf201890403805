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
    setMouseTracking(false);
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

// Where the list's delegate starts a row's text: the item's left edge plus the style's text
// margin, so the cells line up with the characters the list draws.
QPointF CFieldOverlay::Origin() const {
    const QRect first = m_list->visualRect(m_list->model()->index(0, 0));
    const int margin = m_list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, m_list);
    return {static_cast<qreal>(first.left() + margin + 1), static_cast<qreal>(first.top())};
}

QSizeF CFieldOverlay::CellSize() const {
    const QFontMetricsF metrics(m_list->font());
    const qreal width =
        metrics.horizontalAdvance(QString(CTerminalScreen::kCols, QLatin1Char('M'))) /
        CTerminalScreen::kCols;
    const int height = m_list->visualRect(m_list->model()->index(0, 0)).height();
    return {width, static_cast<qreal>(height > 0 ? height : metrics.height())};
}

QPoint CFieldOverlay::CellAt(QPoint at) const {
    const QPointF origin = Origin();
    const QSizeF cell = CellSize();
    const int col = static_cast<int>(std::floor((at.x() - origin.x()) / cell.width()));
    const int row = static_cast<int>(std::floor((at.y() - origin.y()) / cell.height()));
    return {std::clamp(col, 0, CTerminalScreen::kCols - 1),
            std::clamp(row, 0, CTerminalScreen::kRows - 1)};
}

QRect CFieldOverlay::CellRect(const QRect& cells) const {
    const QPointF origin = Origin();
    const QSizeF cell = CellSize();
    const QPointF topLeft(origin.x() + cells.x() * cell.width(),
                          origin.y() + cells.y() * cell.height());
    return QRectF(topLeft, QSizeF(cells.width() * cell.width(), cells.height() * cell.height()))
        .toAlignedRect();
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
    return m_pressed && m_selected >= 0 &&
           m_shapes[static_cast<std::size_t>(m_selected)].m_cells.contains(*m_pressed);
}

void CFieldOverlay::DrawShape(QPainter& painter, const Shape& shape, const QColor& colour,
                              bool filled) const {
    const QRect area = CellRect(shape.m_cells);
    if (filled) {
        QColor fill = colour;
        fill.setAlpha(kFillAlpha);
        painter.fillRect(area, fill);
    }
    painter.setPen(QPen(colour, kPenWidth));
    painter.drawRect(area);
    for (int column : shape.m_breaks) {
        const int x = CellRect(QRect(column, shape.m_cells.y(), 1, 1)).left();
        painter.drawLine(x, area.top(), x, area.bottom());
    }
}

void CFieldOverlay::paintEvent(QPaintEvent*) {
    if (m_list->count() == 0)
        return;
    QPainter painter(this);
    const QColor shapes = palette().color(QPalette::Highlight);
    for (std::size_t i = 0; i < m_shapes.size(); ++i)
        DrawShape(painter, m_shapes[i], shapes, static_cast<int>(i) == m_selected);
    const QColor marking = palette().color(QPalette::Link);
    if (MovingSelected()) {
        Shape moved = m_shapes[static_cast<std::size_t>(m_selected)];
        const QPoint offset = m_current - *m_pressed;
        moved.m_cells.translate(offset);
        for (int& column : moved.m_breaks)
            column += offset.x();
        DrawShape(painter, moved, marking, false);
    } else if (m_pressed) {
        DrawShape(painter, {Spanned(*m_pressed, m_current), {}, {}}, marking, true);
    } else if (m_marked) {
        DrawShape(painter, *m_marked, marking, true);
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
