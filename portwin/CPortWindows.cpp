#include "CPortWindows.h"

#include "CPortViews.h"
#include "CTnCommDlgPortCfg.h"
#include "CTnCommMonitor.h"
#include "CTnCommPortEx.h"

#include <QApplication>
#include <QMessageBox>

CPortWindows& CPortWindows::Instance() {
    static CPortWindows windows;
    return windows;
}

void CPortWindows::Install() {
    CPortViews::Install({&ShowMessage, &Configure,
                         [](CTnCommPortEx& port, bool show) { Instance().ShowMonitor(port, show); },
                         [](const CTnCommPortEx& port) { Instance().Forget(port); }});
}

void CPortWindows::ShowMessage(const QString& text, const QString& detail) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Tallyview"), text, QMessageBox::Ok,
                    QApplication::activeWindow());
    if (!detail.isEmpty())
        box.setDetailedText(detail);
    box.exec();
}

bool CPortWindows::Configure(CTnCommPort& scratch) {
    CTnCommDlgPortCfg dialog(&scratch, 0, QApplication::activeWindow());
    return dialog.DoModal() == QDialog::Accepted;
}

void CPortWindows::ShowMonitor(CTnCommPortEx& port, bool show) {
    if (!show) {
        if (CTnCommMonitor* monitor = Monitor(port))
            monitor->hide();
        return;
    }
    std::unique_ptr<CTnCommMonitor>& monitor = m_monitors[&port];
    if (!monitor)
        monitor = std::make_unique<CTnCommMonitor>(port, port.Tap(),
                                                   [&port] { return port.StateLines(); });
    monitor->show();
    monitor->raise();
    monitor->activateWindow();
}

void CPortWindows::Forget(const CTnCommPortEx& port) {
    m_monitors.erase(&port);
}

CTnCommMonitor* CPortWindows::Monitor(const CTnCommPortEx& port) const {
    const auto found = m_monitors.find(&port);
    return found == m_monitors.end() ? nullptr : found->second.get();
}
