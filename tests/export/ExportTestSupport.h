#pragma once

#include "UiTestSupport.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

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
