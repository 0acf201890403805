// Run with CUPS_SERVER naming a scheduler that does not exist: no printer is configured.
#include "CTextPrinter.h"
#include "ExportTestSupport.h"

#include <QMessageBox>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(NoPrinter, PrintSaysSoInAMessageBox) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("TallyviewTemp.txt"));
    WriteBytes(path, QByteArray(132, 'x') + "\r\n");
    QString caption;
    QString text;
    NextModal answer([&](QWidget* modal) {
        caption = modal->windowTitle();
        if (auto* box = qobject_cast<QMessageBox*>(modal))
            text = box->text();
        modal->close();
    });
    CTextPrinter printer;
    EXPECT_FALSE(printer.PrintToDefault(path));
    ASSERT_TRUE(answer.Handled());
    EXPECT_EQ(caption, QStringLiteral("Tallyview"));
    EXPECT_EQ(text, QStringLiteral("No printer is configured: the lines were not printed."));
    EXPECT_EQ(printer.JobId(), 0);
}

// Print still leaves the rows in the print file, and each Print replaces it.
TEST_F(ExportDialogTest, PrintWithoutPrinterSaysSoAndKeepsThePrintFile) {
    const QString printFile = m_dir.File(QStringLiteral("TallyviewTemp.txt"));
    for (const int first : {0, 7}) {
        ShowRows(FullRow(first) + FullRow(first + 1));
        QString text;
        NextModal answer([&](QWidget* modal) {
            text = qobject_cast<QMessageBox*>(modal)->text();
            modal->close();
        });
        Click(CTerminalDlg::IDC_PRINT);
        ASSERT_TRUE(answer.Handled());
        EXPECT_EQ(text, QStringLiteral("No printer is configured: the lines were not printed."));
        EXPECT_EQ(ReadFile(printFile), FullRow(first) + "\r\n" + FullRow(first + 1) + "\r\n");
    }
}
