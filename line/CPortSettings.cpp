#include "CPortSettings.h"

#include "CLineAddress.h"

namespace {

constexpr CPortSettings::Choice<QSerialPort::DataBits> kDataBits[] = {
    {QSerialPort::Data5, "5", "5"},
    {QSerialPort::Data6, "6", "6"},
    {QSerialPort::Data7, "7", "7"},
    {QSerialPort::Data8, "8", "8"},
};
constexpr CPortSettings::Choice<QSerialPort::Parity> kParity[] = {
    {QSerialPort::NoParity, "none", "None"},      {QSerialPort::EvenParity, "even", "Even"},
    {QSerialPort::OddParity, "odd", "Odd"},       {QSerialPort::MarkParity, "mark", "Mark"},
    {QSerialPort::SpaceParity, "space", "Space"},
};
constexpr CPortSettings::Choice<QSerialPort::StopBits> kStopBits[] = {
    {QSerialPort::OneStop, "1", "1"},
    {QSerialPort::OneAndHalfStop, "1.5", "1.5"},
    {QSerialPort::TwoStop, "2", "2"},
};
constexpr CPortSettings::Choice<QSerialPort::FlowControl> kFlow[] = {
    {QSerialPort::NoFlowControl, "none", "None"},
    {QSerialPort::HardwareControl, "rts-cts", "RTS/CTS"},
    {QSerialPort::SoftwareControl, "xon-xoff", "XON/XOFF"},
};

} // namespace

std::span<const CPortSettings::Choice<QSerialPort::DataBits>> CPortSettings::DataBitsChoices() {
    return kDataBits;
}
std::span<const CPortSettings::Choice<QSerialPort::Parity>> CPortSettings::ParityChoices() {
    return kParity;
}
std::span<const CPortSettings::Choice<QSerialPort::StopBits>> CPortSettings::StopBitsChoices() {
    return kStopBits;
}
std::span<const CPortSettings::Choice<QSerialPort::FlowControl>> CPortSettings::FlowChoices() {
    return kFlow;
}

QString CPortSettings::Problem() const {
    if (m_device.contains(QLatin1Char('\n')) || m_device.contains(QLatin1Char('\r')))
        return QStringLiteral("the device path contains a line break");
    // The system would open only the part before it.
    if (m_device.contains(QChar(u'\0')))
        return QStringLiteral("the device path contains a NUL character");
    if (const QString address = CLineAddress::Problem(m_device); !address.isEmpty())
        return address;
    if (m_baud <= 0)
        return QStringLiteral("the baud rate %1 is not a positive whole number").arg(m_baud);
    if (!Find(DataBitsChoices(), m_dataBits))
        return QStringLiteral("the data bits must be 5, 6, 7 or 8");
    if (!Find(ParityChoices(), m_parity))
        return QStringLiteral("the parity is not one of none, even, odd, mark, space");
    if (!Find(StopBitsChoices(), m_stopBits))
        return QStringLiteral("the stop bits must be 1, 1.5 or 2");
    if (!Find(FlowChoices(), m_flow))
        return QStringLiteral("the flow control is not one of none, RTS/CTS, XON/XOFF");
    return {};
}

QString CPortSettings::Summary() const {
    const auto* parity = Find(ParityChoices(), m_parity);
    const auto* stop = Find(StopBitsChoices(), m_stopBits);
    const auto* flow = Find(FlowChoices(), m_flow);
    QString text = QStringLiteral("%1 %2%3%4")
                       .arg(m_baud)
                       .arg(int(m_dataBits))
                       .arg(parity ? QChar::fromLatin1(parity->m_label[0]) : QLatin1Char('?'))
                       .arg(stop ? QLatin1String(stop->m_key) : QLatin1String("?"));
    if (flow && m_flow != QSerialPort::NoFlowControl)
        text += QLatin1Char(' ') + QLatin1String(flow->m_label);
    return text;
}
