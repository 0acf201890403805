#pragma once

#include "CTempCwd.h"
#include "CTerminalDlg.h"
#include "PtyPair.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string_view>

// A main window in a settings folder of its own (the window resolves "Tallyview.cfg" in the
// current directory when it is built), with a pseudo-terminal as the statistics computer.
class DialogTest : public ::testing::Test {
protected:
    // Writes a settings file for the pseudo-terminal, so the window opens the port at start,
    // with these optional keys.
    void WriteSettings(const QList<QPair<QString, QString>>& options = {}) const;
    QString SettingsPath() const { return m_dir.File(QStringLiteral("Tallyview.cfg")); }
    QByteArray SettingsText() const;
    void OverwriteSettings(const QByteArray& text) const;

    CTerminalDlg& Dialog();
    // The next Dialog() is a new window, as at the program's next start.
    void DropDialog() { m_dialog.reset(); }
    // Sends bytes on the line and waits until the port has received all of them.
    void Send(std::string_view bytes);
    void Refresh() { Dialog().RefreshDisplay(Dialog().TimerId()); }
    QStringList Items();
    // Runs the main window modally, as the program does, with script inside its loop; the
    // script must end it.
    void RunModally(const std::function<void()>& script);

    CTempCwd m_dir;
    PtyPair m_pty;

private:
    // Last, so the window and its port go before the line and the folder they use.
    std::unique_ptr<CTerminalDlg> m_dialog;
};
