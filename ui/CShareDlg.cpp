#include "CShareDlg.h"

#include "CMqttPublisher.h"
#include "CQrCode.h"
#include "CSettingsKeys.h"
#include "CShareServer.h"
#include "CStation.h"
#include "CTerminalPort.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QPixmap>
#include <QVBoxLayout>

namespace {

constexpr int kQrPixels = 240;
constexpr int kPublishTickMs = 1000;

} // namespace

CShareDlg::CShareDlg(CStation& station, QWidget* parent)
    : QDialog(parent), m_station(station), m_port(station.Port()), m_server(station.Share()),
      m_on(QStringLiteral("&Share the screen")), m_newCode(QStringLiteral("&New code")),
      m_close(QStringLiteral("Close")) {
    setWindowTitle(QStringLiteral("Tallyview - Share"));
    const CShareConfig config = CShareConfig::Load(m_port);
    m_code = config.m_code;
    m_applied = config;
    m_on.setObjectName(QStringLiteral("on"));
    m_on.setChecked(config.m_on);
    m_address.setObjectName(QStringLiteral("address"));
    m_address.addItems({QStringLiteral("This computer only"), QStringLiteral("All networks")});
    m_address.setCurrentIndex(config.m_allNetworks ? 1 : 0);
    m_portNumber.setObjectName(QStringLiteral("port"));
    m_portNumber.setRange(1, 65535);
    m_portNumber.setValue(config.m_port);
    m_certificate.setObjectName(QStringLiteral("certificate"));
    m_certificate.setText(config.m_certificate);
    m_certificate.setPlaceholderText(QStringLiteral("PEM file, for HTTPS (optional)"));
    m_key.setObjectName(QStringLiteral("key"));
    m_key.setText(config.m_key);
    m_key.setPlaceholderText(QStringLiteral("PEM file, for HTTPS (optional)"));
    m_state.setObjectName(QStringLiteral("state"));
    m_state.setWordWrap(true);
    m_url.setObjectName(QStringLiteral("url"));
    m_url.setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_qr.setObjectName(QStringLiteral("qr"));
    m_qr.setFixedSize(kQrPixels, kQrPixels);
    m_qr.setAlignment(Qt::AlignCenter);
    m_qr.setWordWrap(true);
    m_publish.setObjectName(QStringLiteral("publish"));
    const QString publish = m_port.Option(QLatin1String(CSettingsKeys::kPublish)).trimmed();
    m_publish.setText(publish == QLatin1String("off") ? QString() : publish);
    m_publish.setPlaceholderText(
        QStringLiteral("mqtt://[USER[:PASSWORD]@]HOST:PORT[,HOST:PORT...]/TOPIC (empty: off)"));
    m_publishState.setObjectName(QStringLiteral("publishState"));
    m_publishState.setWordWrap(true);
    m_newCode.setObjectName(QStringLiteral("newCode"));
    m_newCode.setAutoDefault(false);
    m_close.setAutoDefault(false);

    auto* form = new QFormLayout;
    form->addRow(&m_on);
    form->addRow(QStringLiteral("&Address:"), &m_address);
    form->addRow(QStringLiteral("&Port:"), &m_portNumber);
    form->addRow(QStringLiteral("&Certificate:"), &m_certificate);
    form->addRow(QStringLiteral("&Key:"), &m_key);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(&m_newCode);
    buttons->addStretch(1);
    buttons->addWidget(&m_close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(&m_state);
    layout->addWidget(&m_url);
    layout->addWidget(&m_qr, 0, Qt::AlignHCenter);
    auto* publishing = new QFormLayout;
    publishing->addRow(QStringLiteral("P&ublish to:"), &m_publish);
    layout->addLayout(publishing);
    layout->addWidget(&m_publishState);
    layout->addLayout(buttons);

    connect(&m_on, &QCheckBox::toggled, this, &CShareDlg::Apply);
    connect(&m_address, &QComboBox::currentIndexChanged, this, &CShareDlg::Apply);
    connect(&m_portNumber, &QSpinBox::editingFinished, this, &CShareDlg::Apply);
    connect(&m_certificate, &QLineEdit::editingFinished, this, &CShareDlg::Apply);
    connect(&m_key, &QLineEdit::editingFinished, this, &CShareDlg::Apply);
    connect(&m_newCode, &QPushButton::clicked, this, &CShareDlg::OnNewCode);
    connect(&m_close, &QPushButton::clicked, this, &QDialog::close);
    connect(&m_publish, &QLineEdit::editingFinished, this, &CShareDlg::ApplyPublish);
    connect(&m_server, &CShareServer::ViewersChanged, this, &CShareDlg::ShowState);
    // The publisher's state changes on its own thread: looked at while the window is open.
    connect(&m_publishTick, &QTimer::timeout, this, &CShareDlg::ShowPublishing);
    m_publishTick.start(kPublishTickMs);
    ShowState();
    ShowPublishing();
}

CShareConfig CShareDlg::Edited() const {
    CShareConfig config;
    config.m_on = m_on.isChecked();
    config.m_allNetworks = m_address.currentIndex() == 1;
    config.m_port = static_cast<quint16>(m_portNumber.value());
    config.m_code = m_code;
    config.m_certificate = m_certificate.text().trimmed();
    config.m_key = m_key.text().trimmed();
    return config;
}

// Serving again with a new code ends every current view: those who had the old one must get
// the new address.
void CShareDlg::Apply() {
    const CShareConfig config = Edited();
    if (config == m_applied && config.m_on == m_server.IsServing())
        return;
    m_applied = config;
    config.Store(m_port);
    if (config.m_on)
        m_server.Start(config);
    else
        m_server.Stop();
    ShowState();
}

void CShareDlg::OnNewCode() {
    m_code = CSettingsKeys::NewCode();
    Apply();
}

void CShareDlg::ShowState() {
    const CShareConfig config = Edited();
    QString url;
    if (m_server.IsServing()) {
        url = config.Url(m_server.ServingPort());
        m_state.setText(QStringLiteral("Sharing: %1 viewer(s). Give people this address:")
                            .arg(m_server.ViewerCount()));
    } else if (config.m_on) {
        m_state.setText(QStringLiteral("Cannot share: %1").arg(m_server.LastError()));
    } else {
        m_state.setText(QStringLiteral("Not sharing."));
    }
    m_url.setText(url);
    ShowCode(url, config.m_allNetworks);
}

// No phone can open this computer's own address: instead of a code for it, what phones need.
void CShareDlg::ShowCode(const QString& url, bool allNetworks) {
    const QString hint = url.isEmpty() || allNetworks
                             ? QString()
                             : QStringLiteral("Phones need \"All networks\": this address opens "
                                              "on this computer only.");
    const QString coded = hint.isEmpty() ? url : QString();
    if (coded == m_coded && hint == m_qr.text())
        return;
    m_coded = coded;
    if (!hint.isEmpty()) {
        m_qr.setText(hint);
        return;
    }
    const QImage qr = coded.isEmpty() ? QImage() : CQrCode::Image(coded);
    m_qr.setPixmap(qr.isNull()
                       ? QPixmap()
                       : QPixmap::fromImage(qr.scaled(kQrPixels, kQrPixels, Qt::KeepAspectRatio,
                                                      Qt::FastTransformation)));
}

void CShareDlg::ApplyPublish() {
    m_publishProblem = m_station.ChangePublish(m_publish.text());
    ShowPublishing();
}

void CShareDlg::ShowPublishing() {
    const CMqttPublisher* publisher = m_port.FindListener<CMqttPublisher>();
    QString state = publisher ? publisher->StateLine() : QStringLiteral("Not publishing.");
    if (!m_publishProblem.isEmpty())
        state =
            QStringLiteral("Cannot publish to that address: %1. %2").arg(m_publishProblem, state);
    m_publishState.setText(state);
}
