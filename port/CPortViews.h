#pragma once

#include <QString>
#include <functional>

class CTnCommPort;
class CTnCommPortEx;

// The port's windows: its configuration dialog, its traffic monitor and its messages. Only a
// program with windows has them; it installs them once at start. Without them the port's
// messages go to the log and it has neither dialog nor monitor.
struct CPortViews {
    std::function<void(const QString& text, const QString& detail)> m_showMessage;
    // Runs the configuration dialog on the scratch port: true when accepted, with the chosen
    // settings left in it.
    std::function<bool(CTnCommPort& scratch)> m_configure;
    // Shows (or hides) the port's traffic monitor, made at its first showing.
    std::function<void(CTnCommPortEx& port, bool show)> m_showMonitor;
    // The port is going away: its monitor goes first.
    std::function<void(const CTnCommPortEx& port)> m_forget;

    static void Install(const CPortViews& views);
    // Null until installed.
    static const CPortViews* Installed();
};
