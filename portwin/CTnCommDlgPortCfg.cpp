#include "CTnCommDlgPortCfg.h"

#include "CTnCommPort.h"

#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QSerialPortInfo>
#include <QVBoxLayout>

namespace {

constexpr int kInfoRole = Qt::UserRole;

QString Describe(const QSerialPortInfo& info) {
    QStringList parts;
    if (!info.description().isEmpty())
        parts << info.description();
    if (!info.manufacturer().isEmpty())
        parts << info.manufacturer();
    if (!info.serialNumber().isEmpty())
        parts << QStringLiteral("serial number %1").arg(info.serialNumber());
    return parts.join(QStringLiteral(", "));
}

template <typename T> T Chosen(const QComboBox& box) {
    return static_cast<T>(box.currentData().toInt());
}

} // namespace

CTnCommDlgPortCfg::CTnCommDlgPortCfg(CTnCommPort* port, int /*variant*/, QWidget* parent)
    : QDialog(parent), m_port(port), m_buttons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel) {
    setWindowTitle(QStringLiteral("Serial Port Settings"));
    const CPortSettings& settings = port->Settings();

    m_device.setObjectName(QStringLiteral("device"));
    m_device.setEditable(true);
    m_device.setInsertPolicy(QComboBox::NoInsert);
    m_device.setMinimumContentsLength(32);
    FillDevices();
    m_device.setEditText(settings.m_device);
    m_deviceInfo.setObjectName(QStringLiteral("deviceInfo"));
    m_deviceInfo.setWordWrap(true);

    m_baud.setObjectName(QStringLiteral("baud"));
    m_baud.setEditable(true);
    m_baud.setInsertPolicy(QComboBox::NoInsert);
    for (const qint32 rate : QSerialPortInfo::standardBaudRates())
        m_baud.addItem(QString::number(rate));
    m_baud.setEditText(QString::number(settings.m_baud));

    m_dataBits.setObjectName(QStringLiteral("dataBits"));
    m_parity.setObjectName(QStringLiteral("parity"));
    m_stopBits.setObjectName(QStringLiteral("stopBits"));
    m_flow.setObjectName(QStringLiteral("flow"));
    FillChoices(m_dataBits, CPortSettings::DataBitsChoices(), settings.m_dataBits);
    FillChoices(m_parity, CPortSettings::ParityChoices(), settings.m_parity);
    FillChoices(m_stopBits, CPortSettings::StopBitsChoices(), settings.m_stopBits);
    FillChoices(m_flow, CPortSettings::FlowChoices(), settings.m_flow);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("&Device:"), &m_device);
    form->addRow(QString(), &m_deviceInfo);
    form->addRow(QStringLiteral("&Baud rate:"), &m_baud);
    form->addRow(QStringLiteral("D&ata bits:"), &m_dataBits);
    form->addRow(QStringLiteral("&Parity:"), &m_parity);
    form->addRow(QStringLiteral("&Stop bits:"), &m_stopBits);
    form->addRow(QStringLiteral("&Flow control:"), &m_flow);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(&m_buttons);

    connect(&m_buttons, &QDialogButtonBox::accepted, this, &CTnCommDlgPortCfg::accept);
    connect(&m_buttons, &QDialogButtonBox::rejected, this, &CTnCommDlgPortCfg::reject);
    connect(&m_device, &QComboBox::editTextChanged, this, &CTnCommDlgPortCfg::ShowDeviceInfo);
    ShowDeviceInfo();
}

void CTnCommDlgPortCfg::FillDevices() {
    // The stable names first: they survive replugging an adapter into another socket.
    const QDir byId(QStringLiteral("/dev/serial/by-id"));
    for (const QFileInfo& link :
         byId.entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name)) {
        m_device.addItem(link.absoluteFilePath());
        m_device.setItemData(m_device.count() - 1,
                             QStringLiteral("Stable name of %1").arg(link.canonicalFilePath()),
                             kInfoRole);
    }
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        m_device.addItem(info.systemLocation());
        m_device.setItemData(m_device.count() - 1, Describe(info), kInfoRole);
    }
}

void CTnCommDlgPortCfg::ShowDeviceInfo() {
    const int index = m_device.findText(m_device.currentText().trimmed());
    m_deviceInfo.setText(index >= 0 ? m_device.itemData(index, kInfoRole).toString() : QString());
}

template <typename T>
void CTnCommDlgPortCfg::FillChoices(QComboBox& box,
                                    std::span<const CPortSettings::Choice<T>> choices, T current) {
    for (const auto& choice : choices)
        box.addItem(QLatin1String(choice.m_label), static_cast<int>(choice.m_value));
    box.setCurrentIndex(std::max(0, box.findData(static_cast<int>(current))));
}

CPortSettings CTnCommDlgPortCfg::Entered(QString& problem) const {
    CPortSettings settings;
    settings.m_device = m_device.currentText().trimmed();
    bool baudOk = false;
    settings.m_baud = m_baud.currentText().trimmed().toInt(&baudOk);
    settings.m_dataBits = Chosen<QSerialPort::DataBits>(m_dataBits);
    settings.m_parity = Chosen<QSerialPort::Parity>(m_parity);
    settings.m_stopBits = Chosen<QSerialPort::StopBits>(m_stopBits);
    settings.m_flow = Chosen<QSerialPort::FlowControl>(m_flow);
    if (settings.m_device.isEmpty())
        problem = QStringLiteral("Choose or type the serial device, for example /dev/ttyUSB0, "
                                 "or a device server's address, for example tcp://10.0.0.5:4001.");
    else if (!baudOk || settings.m_baud <= 0)
        problem =
            QStringLiteral("The baud rate must be a positive whole number, for example 9600.");
    else if (const QString wrong = settings.Problem(); !wrong.isEmpty())
        problem = QStringLiteral("These settings cannot be used: %1.").arg(wrong);
    else
        problem.clear();
    return settings;
}

void CTnCommDlgPortCfg::accept() {
    QString problem;
    const CPortSettings settings = Entered(problem);
    if (!problem.isEmpty()) {
        QMessageBox::warning(this, QStringLiteral("Tallyview"), problem);
        return; // stays open for a correction
    }
    m_port->SetSettings(settings);
    QDialog::accept();
}
