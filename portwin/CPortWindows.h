#pragma once

#include <QString>
#include <map>
#include <memory>

class CTnCommMonitor;

class CTnCommPort;
class CTnCommPortEx;

// The port's windows in a program with a window: message boxes over the active window, the
// modal configuration dialog and one traffic monitor per port.
class CPortWindows {
public:
    // The one set of windows.
    static CPortWindows& Instance();
    // Makes them the port's windows, at the program's start.
    static void Install();

    static void ShowMessage(const QString& text, const QString& detail);
    static bool Configure(CTnCommPort& scratch);
    void ShowMonitor(CTnCommPortEx& port, bool show);
    void Forget(const CTnCommPortEx& port);

    // The port's monitor once it has been shown, otherwise null.
    CTnCommMonitor* Monitor(const CTnCommPortEx& port) const;

private:
    CPortWindows() = default;

    std::map<const CTnCommPortEx*, std::unique_ptr<CTnCommMonitor>> m_monitors;
};
