#pragma once

#include <QFont>
#include <string>
#include <string_view>
#include <vector>

class CMarkDelegate;
class QLabel;
class QListWidget;

// The screen as the main window shows it: the rows in a list, updated in place so only rows
// that changed are repainted and the selection and scroll position stay where the operator
// left them, with a horizontal extent that only grows; the status, label and cursor fields.
// The History window shows its moments through the same view.
class CScreenView {
public:
    // Room added to the widest row so the last column never sits at the very edge.
    static constexpr int kExtentMargin = 100;

    // The font of the main window and of the screen text wherever it is shown.
    static QFont Font();

    // Sets the list and the fields up for screen text; the widgets stay the caller's.
    CScreenView(QListWidget* list, QLabel* cursor, QLabel* status, QLabel* label);

    // lines: the rows to show, trailing blank rows already dropped; row and col 0-based. A
    // mark on the rows shown before goes: it marked another screen.
    void Show(const std::vector<std::string>& lines, std::string_view status,
              std::string_view label, int row, int col);

    // Marks `length` characters from row and col (0-based) as found, and scrolls them into view.
    void Mark(int row, int col, int length);
    void ClearMark();

private:
    void ShowRows(const std::vector<std::string>& lines);
    int SelectedRow() const;

    QListWidget* m_list;
    QLabel* m_cursor;
    QLabel* m_status;
    QLabel* m_label;
    CMarkDelegate* m_delegate; // holds the list's horizontal scroll extent and the mark
};
