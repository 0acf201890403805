#include "CTextPrinter.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QMessageBox>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QTemporaryFile>
#include <algorithm>

#ifdef TALLYVIEW_HAVE_CUPS
#include <cups/cups.h>
#endif

namespace {

constexpr double kProbePoints = 10.0;

QFont FixedFont() {
    QFont font(QStringLiteral("Courier New"));
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    font.setPointSizeF(kProbePoints);
    return font;
}

// The fixed-width font at the largest size that fits a full row across the printable width.
QFont FittingFont(QPrinter& printer) {
    QFont font = FixedFont();
    const QString fullRow(CTextPrinter::kColumns, QLatin1Char('M'));
    const qreal probeWidth = QFontMetricsF(font, &printer).horizontalAdvance(fullRow);
    font.setPointSizeF(kProbePoints * printer.width() / probeWidth);
    // Hinted advances need not scale exactly; shrink until the row really fits.
    while (QFontMetricsF(font, &printer).horizontalAdvance(fullRow) > printer.width())
        font.setPointSizeF(font.pointSizeF() * 0.98);
    return font;
}

void SetUpPage(QPrinter& printer) {
    printer.setPageOrientation(QPageLayout::Portrait);
    printer.setPageMargins(QMarginsF(CTextPrinter::kMarginMm, CTextPrinter::kMarginMm,
                                     CTextPrinter::kMarginMm, CTextPrinter::kMarginMm),
                           QPageLayout::Millimeter);
}

} // namespace

bool CTextPrinter::PrintToDefault(const QString& textPath) {
    m_jobId = 0;
    const QPrinterInfo info = QPrinterInfo::defaultPrinter();
    if (info.isNull())
        return Report(QStringLiteral("No printer is configured: the lines were not printed."));
    QStringList lines;
    if (!ReadLines(textPath, lines))
        return Report(m_lastError);
    const QString title = QFileInfo(textPath).fileName();
#ifdef TALLYVIEW_HAVE_CUPS
    // Qt's own CUPS engine drops the result of the submission, so the job is laid out into a
    // PDF here and handed to CUPS directly, where a refusal can be seen.
    QTemporaryFile pdf(QDir::temp().filePath(QStringLiteral("TallyviewPrint-XXXXXX.pdf")));
    if (!pdf.open())
        return Report(
            QStringLiteral("The print file could not be created: %1.").arg(pdf.errorString()));
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf.fileName());
    printer.setPageSize(info.defaultPageSize());
    printer.setDocName(title);
    if (!Render(lines, printer) || !Submit(info.printerName(), pdf.fileName(), title))
        return Report(m_lastError);
#else
    QPrinter printer(info, QPrinter::HighResolution);
    printer.setDocName(title);
    if (!Render(lines, printer))
        return Report(m_lastError);
#endif
    return true;
}

bool CTextPrinter::PrintToPdf(const QString& textPath, const QString& pdfPath) {
    QStringList lines;
    if (!ReadLines(textPath, lines))
        return false;
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdfPath);
    printer.setDocName(QFileInfo(textPath).fileName());
    return Render(lines, printer);
}

bool CTextPrinter::ReadLines(const QString& textPath, QStringList& lines) {
    QFile file(textPath);
    if (!file.open(QIODevice::ReadOnly))
        return Fail(QStringLiteral("%1 could not be read for printing: %2.")
                        .arg(QDir::toNativeSeparators(textPath), file.errorString()));
    // The rows are 8-bit text; Latin-1 gives every byte a character.
    lines = QString::fromLatin1(file.readAll()).split(QLatin1Char('\n'));
    if (file.error() != QFileDevice::NoError)
        return Fail(QStringLiteral("%1 could not be read for printing: %2.")
                        .arg(QDir::toNativeSeparators(textPath), file.errorString()));
    if (lines.constLast().isEmpty())
        lines.removeLast(); // the line end of the last row
    for (QString& line : lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    }
    return true;
}

bool CTextPrinter::Render(const QStringList& lines, QPrinter& printer) {
    SetUpPage(printer);
    QPainter painter;
    if (!painter.begin(&printer))
        return Fail(QStringLiteral("The printer could not start the page."));
    const QFont font = FittingFont(printer);
    painter.setFont(font);
    const QFontMetricsF metrics(font, &printer);
    const qsizetype perPage =
        std::max<qsizetype>(1, static_cast<qsizetype>(printer.height() / metrics.lineSpacing()));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (i > 0 && i % perPage == 0)
            printer.newPage();
        const qreal baseline =
            static_cast<qreal>(i % perPage) * metrics.lineSpacing() + metrics.ascent();
        painter.drawText(QPointF(0, baseline), lines[i]);
    }
    if (!painter.end() || printer.printerState() == QPrinter::Error)
        return Fail(QStringLiteral("The pages could not be completed for printing."));
    return true;
}

#ifdef TALLYVIEW_HAVE_CUPS
bool CTextPrinter::Submit(const QString& printerName, const QString& pdfPath,
                          const QString& title) {
    // CUPS takes the queue name without an instance suffix.
    const QString queue = printerName.section(QLatin1Char('/'), 0, 0);
    m_jobId = cupsPrintFile(queue.toLocal8Bit().constData(), pdfPath.toLocal8Bit().constData(),
                            title.toLocal8Bit().constData(), 0, nullptr);
    if (m_jobId == 0)
        return Fail(QStringLiteral("The print job was not accepted by %1: %2.")
                        .arg(queue, QString::fromLocal8Bit(cupsLastErrorString())));
    return true;
}
#endif

bool CTextPrinter::Fail(const QString& reason) {
    m_lastError = reason;
    return false;
}

bool CTextPrinter::Report(const QString& reason) {
    Fail(reason);
    QMessageBox::warning(QApplication::activeWindow(), QStringLiteral("Tallyview"), reason);
    return false;
}
