#include "CExtentDelegate.h"

#include <algorithm>

void CExtentDelegate::SetExtent(int extent) {
    if (extent == m_extent)
        return;
    m_extent = extent;
    // The view lays its items out again on this signal.
    emit sizeHintChanged(QModelIndex());
}

QSize CExtentDelegate::sizeHint(const QStyleOptionViewItem& option,
                                const QModelIndex& index) const {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setWidth(std::max(size.width(), m_extent));
    return size;
}
