#include "CExportCommands.h"

#include "CExportText.h"
#include "CTextPrinter.h"

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>

void CExportCommands::Copy(QWidget* window, std::span<const std::string> rows) {
    const std::string bytes = CExportText::ClipboardText(rows);
    const QString text = QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setText(text);
    if (clipboard->text() != text)
        QMessageBox::warning(window, QStringLiteral("Tallyview"),
                             QStringLiteral("Unable to set Clipboard data"));
}

void CExportCommands::Print(QWidget* window, std::span<const std::string> rows,
                            const QString& settingsPath) {
    const QString path = QFileInfo(settingsPath).dir().filePath(QLatin1String(kPrintFile));
    if (WriteLines(window, rows, path))
        CTextPrinter().PrintToDefault(path);
}

void CExportCommands::SaveFile(QWidget* window, std::span<const std::string> rows) {
    QFileDialog dialog(window);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilter(QStringLiteral("TXT Files (*.txt)"));
    dialog.setDefaultSuffix(QStringLiteral("txt"));
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
        WriteLines(window, rows, dialog.selectedFiles().constFirst());
}

bool CExportCommands::WriteLines(QWidget* window, std::span<const std::string> rows,
                                 const QString& path) {
    const std::string text = CExportText::FileText(rows);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        file.write(text.data(), static_cast<qint64>(text.size()));
        file.close();
        if (file.error() == QFileDevice::NoError)
            return true;
    }
    QMessageBox::warning(window, QStringLiteral("Tallyview"),
                         QStringLiteral("The lines could not be written to %1: %2.")
                             .arg(QDir::toNativeSeparators(path), file.errorString()));
    return false;
}
