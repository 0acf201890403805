#pragma once

#include "CTerminalScreen.h"
#include "CTnCommPortEx.h"

#include <QString>
#include <functional>

// The program's serial port: a port whose received bytes feed the emulated screen it carries,
// with the settings file lifecycle (restore and open at start-up, reconfigure, store at close).
class CTerminalPort : public CTnCommPortEx, public CTerminalScreen {
public:
    static constexpr const char* kSettingsFile = "Tallyview.cfg";

    // The settings file is the one in the current directory at this moment; later changes of
    // the current directory (a file dialog) do not move it.
    CTerminalPort();
    // A port whose settings file is `settingsPath` (the headless relay's).
    explicit CTerminalPort(QString settingsPath);
    ~CTerminalPort() override;
    CTerminalPort(const CTerminalPort&) = delete;
    // Takes the other port's settings only: the screen and the receive buffer stay as they are.
    CTerminalPort& operator=(const CTerminalPort& other);

    bool HandleTerminalData(char ch) override;

    // Start-up: restores the settings and opens the port (a network line may still be opening on
    // return: see SetOpenFinished). A missing file leaves the port closed
    // silently; anything else that cannot be read or understood (not a regular file, no access,
    // bad contents) is reported and left as it is, and the port stays closed.
    // `beforeOpen` runs once the settings are read or found missing, before the port opens (to
    // start what takes from the line).
    void LoadSettings(const std::function<void()>& beforeOpen = {});
    // "Config Port": runs the configuration dialog and reopens the port with accepted settings,
    // as LoadSettings opens it.
    void Reconfigure();
    // Runs whenever an open that LoadSettings or Reconfigure began has its outcome, once a
    // failure has been reported: for whatever follows the open state (the window's buttons).
    void SetOpenFinished(std::function<void()> handler) { m_openFinished = std::move(handler); }
    // Close: stores the settings while the port is open. False only when storing failed, which
    // has then been reported; the file is never left half-written.
    bool SaveSettings();

    const QString& SettingsPath() const { return m_settingsPath; }

    // Through the port's windows in a program with a window; standard error in one without.
    static void ShowMessage(const QString& text, const QString& detail = {});

    // A step of LoadSettings, for a program that changes the settings before opening and words
    // its own messages: reads the file, empty when the port can be opened, otherwise why the
    // file cannot be used. A value that breaks its key's rule is replaced by what is used
    // instead, and said: one message for each.
    QString ReadSettings();

private:
    void ReplaceBadOptions();
    // Selects the terminal protocol and opens the port without waiting on the network; a
    // failure is reported with `failure` when it is known.
    void OpenReporting(const QString& failure);
    // Empty when stored, otherwise what went wrong.
    QString StoreSettings();

    QString m_settingsPath;
    std::function<void()> m_openFinished;
};
