#pragma once

#include <QString>

class CTnCommPort;
class CTnCommPortEx;

// The port's windows: its configuration dialog, its traffic monitor and its messages. Only a
// program with windows has them; it installs them once at start. Without them the port's
// messages go to the log and it has neither dialog nor monitor.
class CPortViews {
public:
    static void Install(CPortViews* views);
    static CPortViews* Installed();

    virtual ~CPortViews() = default;
    virtual void ShowMessage(const QString& text, const QString& detail) = 0;
    // Runs the configuration dialog on `scratch`: true when accepted, with the chosen settings
    // left in it.
    virtual bool Configure(CTnCommPort& scratch) = 0;
    // Shows (or hides) the port's traffic monitor, made at its first showing.
    virtual void ViewMonitor(CTnCommPortEx& port, bool show) = 0;
    // `port` is going away: its monitor goes first.
    virtual void Forget(const CTnCommPortEx& port) = 0;
};
