#pragma once

#include <QString>
#include <QStringList>

class QPrinter;

// Prints a text file of screen rows without asking anything: portrait, in a fixed-width font
// sized so that a full row of 132 columns fits across the page. The same layout can go to a PDF
// file instead of a printer.
class CTextPrinter {
public:
    static constexpr int kColumns = 132;
    static constexpr double kMarginMm = 10.0;

    // Prints on the system's default printer. When there is none, or the job is not accepted,
    // the reason is shown in a message box and false returned.
    bool PrintToDefault(const QString& textPath);
    // Lays the file out exactly as PrintToDefault does, into the PDF file pdfPath.
    bool PrintToPdf(const QString& textPath, const QString& pdfPath);

    const QString& LastError() const { return m_lastError; }
    // The print system's number of the job last submitted; 0 when none was.
    int JobId() const { return m_jobId; }

private:
    bool ReadLines(const QString& textPath, QStringList& lines);
    bool Render(const QStringList& lines, QPrinter& printer);
    bool Submit(const QString& printerName, const QString& pdfPath, const QString& title);
    bool Fail(const QString& reason);
    bool Report(const QString& reason);

    QString m_lastError;
    int m_jobId = 0;
};
