#pragma once

#include <QStyledItemDelegate>

// Gives every list item at least the list's horizontal scroll extent as its width, so the
// horizontal scroll bar reaches as far as the extent says, whatever the items' own text.
class CExtentDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    int Extent() const { return m_extent; }
    void SetExtent(int extent);

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    int m_extent = 0;
};
