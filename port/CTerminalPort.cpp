#include "CTerminalPort.h"

#include "CPortViews.h"
#include "CSettingsArchive.h"
#include "CSettingsFile.h"

#include <QDebug>
#include <QDir>
#include <QFile>
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
    if (beforeOpen)
        beforeOpen();
    if (ready)
        OpenReporting(QStringLiteral("Unable to OPEN the port previously configured!"));
}

bool CTerminalPort::OpenReporting(const QString& failure) {
    SetProtocol(kTerminalProtocol);
    if (Open())
        return true;
    ShowMessage(failure, LastError());
    return false;
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

void CTerminalPort::Reconfigure() {
    const CPortViews* views = CPortViews::Installed();
    CTerminalPort scratch;
    scratch = *this;
    if (!views || !views->m_configure(scratch))
        return;
    Close();
    *this = scratch;
    OpenReporting(QStringLiteral("FAILED to open the port!"));
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
    if (const CPortViews* views = CPortViews::Installed())
        views->m_showMessage(text, detail);
    else
        qWarning().noquote() << (detail.isEmpty() ? text : text + QLatin1Char(' ') + detail);
}
