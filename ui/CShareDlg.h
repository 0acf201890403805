#pragma once

#include "CShareConfig.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>

class CShareServer;
class CStation;
class CTerminalPort;

// "Share": switches the read-only web view of the screen on and off, chooses where it is
// served and shows the address to give people, as text and as a QR code; and where the line is
// published, with how that goes. Every change takes effect at once and goes into the port's
// settings, stored with them at close. Modeless, so the operator can keep it open beside the
// main window.
class CShareDlg : public QDialog {
    Q_OBJECT
public:
    CShareDlg(CStation& station, QWidget* parent);

    // The address with the code, as shown; empty while not sharing.
    QString Url() const { return m_url.text(); }

private:
    void Apply();
    void OnNewCode();
    void ShowState();
    void ShowCode(const QString& url, bool allNetworks);
    CShareConfig Edited() const;
    void ApplyPublish();
    void ShowPublishing();

    CStation& m_station;
    CTerminalPort& m_port;
    CShareServer& m_server;
    QString m_code;
    CShareConfig m_applied;
    QCheckBox m_on;
    QComboBox m_address;
    QSpinBox m_portNumber;
    QLineEdit m_certificate;
    QLineEdit m_key;
    QLabel m_state;
    QLabel m_url;
    QLabel m_qr;
    QString m_coded; // the address the QR code shows; empty: none
    QLineEdit m_publish;
    QLabel m_publishState;
    QString m_publishProblem; // why the address last entered was refused
    QTimer m_publishTick;
    QPushButton m_newCode;
    QPushButton m_close;
};
