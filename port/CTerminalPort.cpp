#include "CTerminalPort.h"

#include "CPortViews.h"
#include "CSettingsArchive.h"
#include "CSettingsFile.h"
#include "CSettingsKeys.h"

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
    const bool missing = CSettingsFile(m_settingsPath).IsMissing();
    const QString problem = missing ? QString() : ReadSettings();
    if (!problem.isEmpty())
        ShowMessage(QStringLiteral("The settings file %1 cannot be used: %2.\n\nThe port stays "
                                   "closed; choose its settings with Config Port.")
                        .arg(QDir::toNativeSeparators(m_settingsPath), problem));
    if (beforeOpen)
        beforeOpen();
    if (!missing && problem.isEmpty())
        OpenReporting(QStringLiteral("Unable to OPEN the port previously configured!"));
}

void CTerminalPort::OpenReporting(const QString& failure) {
    SetProtocol(kTerminalProtocol);
    BeginOpen([this, failure](bool opened) {
        if (!opened)
            ShowMessage(failure, LastError());
        if (m_openFinished)
            m_openFinished();
    });
}

QString CTerminalPort::ReadSettings() {
    QFile file;
    QString problem = CSettingsFile(m_settingsPath).OpenForReading(file);
    if (problem.isEmpty()) {
        CSettingsArchive archive(file, CSettingsArchive::Mode::Load);
        Serialize(archive);
        problem = archive.Error();
    }
    if (problem.isEmpty())
        ReplaceBadOptions();
    return problem;
}

// Here once, so every part reading a key later reads a value it can use, and each bad value is
// said once, however many parts read it. The replacement is what the window stores at close.
void CTerminalPort::ReplaceBadOptions() {
    for (const CSettingsKeys::Key& key : CSettingsKeys::All()) {
        const QString name = QLatin1String(key.m_name);
        const QString value = Option(name);
        const QString problem = CSettingsKeys::Problem(key, value);
        if (value.isEmpty() || problem.isEmpty())
            continue;
        const QString used = CSettingsKeys::Replacement(key);
        SetOption(name, used);
        ShowMessage(QStringLiteral("The setting %1 \"%2\" in %3 is %4: %5\"%6\" is used instead.")
                        .arg(name, value.left(40), QDir::toNativeSeparators(m_settingsPath),
                             problem, *key.m_default ? QString() : QStringLiteral("the new one "),
                             used));
    }
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
