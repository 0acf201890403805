#include "CMarkDelegate.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>

int CMarkDelegate::TextStart(const QStyleOptionViewItem& option) {
    const QWidget* widget = option.widget;
    const QStyle* style = widget ? widget->style() : QApplication::style();
    const QRect text = style->subElementRect(QStyle::SE_ItemViewItemText, &option, widget);
    // The styles draw an item's text this far inside its text rectangle.
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    return text.left() - option.rect.left() + margin;
}

std::pair<int, int> CMarkDelegate::MarkSpan(const QWidget* list, const QString& rowText) const {
    QStyleOptionViewItem option;
    option.initFrom(list);
    option.widget = list;
    option.features = QStyleOptionViewItem::HasDisplay;
    option.text = rowText;
    const QFontMetrics& metrics = option.fontMetrics;
    const int left = TextStart(option) + metrics.horizontalAdvance(rowText.left(m_mark.m_col));
    return {left, left + metrics.horizontalAdvance(rowText.mid(m_mark.m_col, m_mark.m_length))};
}

void CMarkDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const {
    CExtentDelegate::paint(painter, option, index);
    if (index.row() != m_mark.m_row || m_mark.m_length <= 0)
        return;
    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);
    const QFontMetrics& metrics = item.fontMetrics;
    const int left = item.rect.left() + TextStart(item) +
                     metrics.horizontalAdvance(item.text.left(m_mark.m_col));
    const QString marked = item.text.mid(m_mark.m_col, m_mark.m_length);
    const QRect rect(left, item.rect.top(), metrics.horizontalAdvance(marked), item.rect.height());
    painter->save();
    painter->fillRect(rect, item.palette.brush(QPalette::Active, QPalette::Highlight));
    painter->setFont(item.font);
    painter->setPen(item.palette.color(QPalette::Active, QPalette::HighlightedText));
    painter->drawText(rect, Qt::AlignLeft | Qt::AlignVCenter, marked);
    painter->restore();
}
