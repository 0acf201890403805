#include "CTerminalPort.h"

#include "CJournal.h"
#include "CJournalFolder.h"
#include "CSettingsArchive.h"
#include "CSettingsFile.h"
#include "CTnCommDlgPortCfg.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <utility>

CTerminalPort::CTerminalPort()
    : CTerminalPort(QDir::current().absoluteFilePath(QLatin1String(kSettingsFile))) {}

CTerminalPort::CTerminalPort(QString settingsPath) : m_settingsPath(std::move(settingsPath)) {}

CTerminalPort::~CTerminalPort() {
    Close(); // the reader delivers into the screen part, which goes first
}

CTerminalPort& CTerminalPort::operator=(const CTerminalPort& other) {
    CTnCommPortEx::operator=(other);
    return *this;
}

bool CTerminalPort::HandleTerminalData(char ch) {
    ReceiveByte(ch);
    return true;
}

void CTerminalPort::LoadSettings(const std::function<void()>& beforeOpen) {
    const bool ready = ReadSettings();
    StartJournal();
    if (!ready)
        return;
    if (beforeOpen)
        beforeOpen();
    SetProtocol(kTerminalProtocol);
    if (!Open())
        ShowMessage(QStringLiteral("Unable to OPEN the port previously configured!"), LastError());
}

bool CTerminalPort::ReadSettings() {
    const CSettingsFile settingsFile(m_settingsPath);
    if (settingsFile.IsMissing())
        return false;
    QFile file;
    QString problem = settingsFile.OpenForReading(file);
    if (problem.isEmpty()) {
        CSettingsArchive archive(file, CSettingsArchive::Mode::Load);
        Serialize(archive);
        problem = archive.Error();
    }
    if (!problem.isEmpty()) {
        ShowMessage(QStringLiteral("The settings file %1 cannot be used: %2.\n\nThe port stays "
                                   "closed; choose its settings with Config Port.")
                        .arg(QDir::toNativeSeparators(m_settingsPath), problem));
        return false;
    }
    return true;
}

// Runs before the port opens, so the restored screen comes before every byte of the line and
// the journal sees all of them.
void CTerminalPort::StartJournal() {
    if (Option(QStringLiteral("journal"), QStringLiteral("on")) != QLatin1String("on"))
        return;
    CJournal::Settings settings;
    settings.m_folder = Option(QStringLiteral("journal_folder"));
    if (settings.m_folder.isEmpty())
        settings.m_folder =
            QFileInfo(m_settingsPath).dir().filePath(QLatin1String(CJournalFolder::kFolderName));
    settings.m_days = IntOption(QStringLiteral("journal_days"), 30);
    settings.m_maxBytes = qint64(IntOption(QStringLiteral("journal_max_mb"), 2048)) * 1024 * 1024;
    m_restoredFrom = CJournalFolder(settings.m_folder)
                         .Restore(*this, IntOption(QStringLiteral("restore_hours"), 12),
                                  QDateTime::currentDateTime());
    AttachJournal(std::make_unique<CJournal>(std::move(settings), *this));
}

// A value that is not a positive number counts as missing.
int CTerminalPort::IntOption(const QString& key, int fallback) const {
    bool ok = false;
    const int value = Option(key).toInt(&ok);
    return ok && value > 0 ? value : fallback;
}

void CTerminalPort::Reconfigure() {
    CTerminalPort scratch;
    scratch = *this;
    CTnCommDlgPortCfg dialog(&scratch, 0, QApplication::activeWindow());
    if (dialog.DoModal() != QDialog::Accepted)
        return;
    Close();
    *this = scratch;
    SetProtocol(kTerminalProtocol);
    if (!Open())
        ShowMessage(QStringLiteral("FAILED to open the port!"), LastError());
}

bool CTerminalPort::SaveSettings() {
    if (!IsOpen())
        return true;
    const QString problem = StoreSettings();
    if (problem.isEmpty())
        return true;
    ShowMessage(QStringLiteral("The port settings could not be stored in %1: %2.\n\nThe window "
                               "stays open. To close it without storing the settings, press "
                               "Escape.")
                    .arg(QDir::toNativeSeparators(m_settingsPath), problem));
    return false;
}

QString CTerminalPort::StoreSettings() {
    return CSettingsFile(m_settingsPath).Replace([this](QIODevice& device) {
        CSettingsArchive archive(device, CSettingsArchive::Mode::Store);
        Serialize(archive);
        return archive.Error();
    });
}

void CTerminalPort::ShowMessage(const QString& text, const QString& detail) {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
        qWarning().noquote() << (detail.isEmpty() ? text : text + QLatin1Char(' ') + detail);
        return;
    }
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Tallyview"), text, QMessageBox::Ok,
                    QApplication::activeWindow());
    if (!detail.isEmpty())
        box.setDetailedText(detail);
    box.exec();
}
