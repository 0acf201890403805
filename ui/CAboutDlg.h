#pragma once

#include <QDialog>

// The About box: product name and version, the owner notice and the operating hints, closed
// with its OK button.
class CAboutDlg : public QDialog {
    Q_OBJECT

public:
    // The OK button's control id, also its object name.
    static constexpr int kOkButtonId = 1;

    explicit CAboutDlg(QWidget* parent = nullptr);
};
