#include "CScreenView.h"

#include "CMarkDelegate.h"
#include "CScreenText.h"
#include "DisplayText.h"

#include <QFontMetrics>
#include <QItemSelectionModel>
#include <QLabel>
#include <QListWidget>
#include <QScrollBar>
#include <algorithm>

QFont CScreenView::Font() {
    QFont font(QStringLiteral("Courier New"));
    font.setStyleHint(QFont::TypeWriter);
    font.setPointSize(9);
    return font;
}

CScreenView::CScreenView(QListWidget* list, QLabel* cursor, QLabel* status, QLabel* label)
    : m_list(list), m_cursor(cursor), m_status(status), m_label(label),
      m_delegate(new CMarkDelegate(list)) {
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_list->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_list->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_list->setTextElideMode(Qt::ElideNone);
    m_list->setUniformItemSizes(true);
    m_list->setItemDelegate(m_delegate);
    // Line data is never markup.
    for (QLabel* field : {m_cursor, m_status, m_label})
        field->setTextFormat(Qt::PlainText);
}

void CScreenView::Show(const std::vector<std::string>& lines, std::string_view status,
                       std::string_view label, int row, int col) {
    ClearMark();
    ShowRows(lines);
    m_status->setText(DisplayText(CScreenText::UpToNul(status)));
    m_label->setText(DisplayText(CScreenText::UpToNul(label)));
    m_cursor->setText(QString::fromStdString(CScreenText::CursorText(row, col)));
}

int CScreenView::SelectedRow() const {
    const QModelIndexList selected = m_list->selectionModel()->selectedIndexes();
    return selected.isEmpty() ? -1 : selected.front().row();
}

void CScreenView::ShowRows(const std::vector<std::string>& lines) {
    const int selection = SelectedRow();
    const QFontMetrics metrics(m_list->font());
    const int rows = static_cast<int>(lines.size());
    int widest = 0;
    for (int i = 0; i < rows; ++i) {
        const QString text = DisplayText(CScreenText::UpToNul(lines[i]));
        if (QListWidgetItem* item = m_list->item(i)) {
            if (item->text() != text)
                item->setText(text);
        } else {
            m_list->addItem(text);
        }
        widest = std::max(widest, metrics.horizontalAdvance(DisplayText(lines[i])) + kExtentMargin);
    }
    // What the screen no longer holds is not shown either.
    while (m_list->count() > rows)
        delete m_list->takeItem(m_list->count() - 1);

    if (m_delegate->Extent() < widest)
        m_delegate->SetExtent(widest);
    if (selection >= 0 && selection < m_list->count())
        m_list->setCurrentRow(selection);
}

void CScreenView::Mark(int row, int col, int length) {
    QListWidgetItem* item = m_list->item(row);
    if (!item)
        return;
    m_delegate->SetMark({row, col, length});
    m_list->viewport()->update();
    m_list->scrollToItem(item, QAbstractItemView::EnsureVisible);
    // Across too, to the middle, with what is beside it: a narrow window shows part of a row.
    const auto [left, right] = m_delegate->MarkSpan(m_list, item->text());
    QScrollBar* across = m_list->horizontalScrollBar();
    const int width = m_list->viewport()->width();
    if (left < across->value() || right > across->value() + width)
        across->setValue(std::min(left, (left + right - width) / 2));
}

void CScreenView::ClearMark() {
    if (m_delegate->Marked().m_row < 0)
        return;
    m_delegate->SetMark({});
    m_list->viewport()->update();
}
