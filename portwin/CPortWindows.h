#pragma once

#include "CPortViews.h"

#include <map>
#include <memory>

class CTnCommMonitor;

// The port's windows in a program with a window: message boxes over the active window, the
// modal configuration dialog and one traffic monitor per port.
class CPortWindows : public CPortViews {
public:
    // The one set of windows; the program installs it (CPortViews::Install) at start.
    static CPortWindows& Instance();

    void ShowMessage(const QString& text, const QString& detail) override;
    bool Configure(CTnCommPort& scratch) override;
    void ViewMonitor(CTnCommPortEx& port, bool show) override;
    void Forget(const CTnCommPortEx& port) override;

    // The port's monitor once it has been shown, otherwise null.
    CTnCommMonitor* Monitor(const CTnCommPortEx& port) const;

private:
    CPortWindows() = default;

    std::map<const CTnCommPortEx*, std::unique_ptr<CTnCommMonitor>> m_monitors;
};
