#pragma once

#include "CTerminalDlg.h"
#include "PtyPair.h"

#include <QDir>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>
#include <initializer_list>
#include <memory>
#include <string_view>
#include <vector>

// A main window in a settings folder of its own (the window resolves "Tallyview.cfg" in the
// current directory when it is built), with a pseudo-terminal as the statistics computer.
class DialogTest : public ::testing::Test {
protected:
    DialogTest();
    ~DialogTest() override;

    // Writes a settings file for the pseudo-terminal, so the window opens the port at start.
    void WriteSettings() const;
    QString SettingsPath() const { return m_dir.filePath(QStringLiteral("Tallyview.cfg")); }
    QByteArray SettingsText() const;
    void OverwriteSettings(const QByteArray& text) const;

    CTerminalDlg& Dialog();
    // Sends bytes on the line and waits until the port has received all of them.
    void Send(std::string_view bytes);
    void Refresh() { Dialog().RefreshDisplay(Dialog().TimerId()); }
    QStringList Items();

    QTemporaryDir m_dir;
    PtyPair m_pty;

private:
    QString m_oldDir;
    std::unique_ptr<CTerminalDlg> m_dialog;
};

// Answers the modal boxes that open next (message boxes, dialogs), in order: accepts or
// rejects each and keeps the texts of the message boxes.
class ModalAnswers {
public:
    explicit ModalAnswers(std::initializer_list<bool> accept);
    const QStringList& Texts() const { return m_texts; }
    bool Done() const { return m_next == m_accept.size(); }

private:
    QTimer m_timer;
    std::vector<bool> m_accept;
    std::size_t m_next = 0;
    QStringList m_texts;
};
