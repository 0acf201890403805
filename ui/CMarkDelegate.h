#pragma once

#include "CExtentDelegate.h"

#include <utility>

// The screen's rows with one run of text marked as a selection is: what Find found. The mark
// goes by row and column, so it follows the text however the list is scrolled.
class CMarkDelegate : public CExtentDelegate {
    Q_OBJECT

public:
    struct Mark {
        int m_row = -1; // none
        int m_col = 0;
        int m_length = 0;
    };

    using CExtentDelegate::CExtentDelegate;

    const Mark& Marked() const { return m_mark; }
    void SetMark(const Mark& mark) { m_mark = mark; }
    // Where the marked text lies across an item of `list`, from the item's left edge.
    std::pair<int, int> MarkSpan(const QWidget* list, const QString& rowText) const;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

private:
    // Where the item's text starts, from the item's left edge, as the style draws it.
    static int TextStart(const QStyleOptionViewItem& option);

    Mark m_mark;
};
