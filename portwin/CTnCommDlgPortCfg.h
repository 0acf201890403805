#pragma once

#include "CPortSettings.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>

class CTnCommPort;

// The modal port configuration dialog. It starts from the port's settings and, when accepted,
// leaves the chosen ones in the port. The device field lists the serial ports the system knows
// and the stable names under /dev/serial/by-id, and takes any typed path.
class CTnCommDlgPortCfg : public QDialog {
    Q_OBJECT
public:
    // The integer is the caller's dialog variant; there is only one.
    CTnCommDlgPortCfg(CTnCommPort* port, int variant, QWidget* parent);

    int DoModal() { return exec(); }
    // The settings as the fields stand; empty problem text when they can be used.
    CPortSettings Entered(QString& problem) const;

    void accept() override;

private:
    void FillDevices();
    void ShowDeviceInfo();
    template <typename T>
    void FillChoices(QComboBox& box, std::span<const CPortSettings::Choice<T>> choices, T current);

    CTnCommPort* m_port;
    QComboBox m_device;
    QLabel m_deviceInfo;
    QComboBox m_baud;
    QComboBox m_dataBits;
    QComboBox m_parity;
    QComboBox m_stopBits;
    QComboBox m_flow;
    QDialogButtonBox m_buttons;
};
