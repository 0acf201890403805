#pragma once

#include "UiTestSupport.h"
#include <QByteArray>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>

class QTimer;
class QWidget;

// A full screen row: 132 letters and digits after "R" and the two-digit index, different for
// every index and readable back from a PDF.
QByteArray FullRow(int index);

// The main window with its port open on the pseudo-terminal.
class ExportDialogTest : public DialogTest {
protected:
    void SetUp() override;
    // Puts rows on a cleared screen from row 0 in 132-column mode, then refreshes the window.
    void ShowRows(const QByteArray& rows);
    void Click(int id);
    static QByteArray ReadFile(const QString& path);
};

// Runs program to its end with the given arguments and returns what it wrote on standard
// output; an exit status other than 0 fails the current test.
QByteArray RunTool(const QString& program, const QStringList& arguments);

// Writes bytes to path, replacing what was there; a failure fails the current test.
void WriteBytes(const QString& path, const QByteArray& bytes);

// Calls handle with the next modal window or popup that opens (a dialog, a message box, a menu);
// it must close the window. Call before the code that opens it; Handled() tells whether it has run.
class NextModal {
public:
    explicit NextModal(std::function<void(QWidget*)> handle);
    ~NextModal();
    NextModal(const NextModal&) = delete;
    NextModal& operator=(const NextModal&) = delete;

    bool Handled() const { return m_handled; }

private:
    QPointer<QTimer> m_timer;
    bool m_handled = false;
};
