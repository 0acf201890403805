// Run with CUPS_SERVER naming a scheduler that does not exist: no printer is configured.
#include "CModalAnswerer.h"
#include "CTextPrinter.h"
#include "ExportTestSupport.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(NoPrinter, PrintSaysSoInAMessageBox) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("TallyviewTemp.txt"));
    WriteBytes(path, QByteArray(132, 'x') + "\r\n");
    CModalAnswerer answer(CModalAnswerer::Close);
    CTextPrinter printer;
    EXPECT_FALSE(printer.PrintToDefault(path));
    ASSERT_TRUE(answer.Done());
    ASSERT_EQ(answer.Messages().size(), 1);
    EXPECT_EQ(answer.Messages().front().m_caption, QStringLiteral("Tallyview"));
    EXPECT_EQ(answer.Messages().front().m_text,
              QStringLiteral("No printer is configured: the lines were not printed."));
    EXPECT_EQ(printer.JobId(), 0);
}

// Print still leaves the rows in the print file, and each Print replaces it.
TEST_F(ExportDialogTest, PrintWithoutPrinterSaysSoAndKeepsThePrintFile) {
    const QString printFile = m_dir.File(QStringLiteral("TallyviewTemp.txt"));
    for (const int first : {0, 7}) {
        ShowRows(FullRow(first) + FullRow(first + 1));
        CModalAnswerer answer(CModalAnswerer::Close);
        Click(CTerminalDlg::IDC_PRINT);
        ASSERT_TRUE(answer.Done());
        EXPECT_EQ(answer.Texts(), QStringList{QStringLiteral(
                                      "No printer is configured: the lines were not printed.")});
        EXPECT_EQ(ReadFile(printFile), FullRow(first) + "\r\n" + FullRow(first + 1) + "\r\n");
    }
}
