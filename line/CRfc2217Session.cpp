#include "CRfc2217Session.h"

#include <utility>

namespace {

// Telnet commands and options.
constexpr unsigned char kSe = 240;
constexpr unsigned char kSb = 250;
constexpr unsigned char kWill = 251;
constexpr unsigned char kWont = 252;
constexpr unsigned char kDo = 253;
constexpr unsigned char kDont = 254;
constexpr unsigned char kIac = 255;
constexpr unsigned char kBinary = 0;
constexpr unsigned char kSuppressGoAhead = 3;
constexpr unsigned char kComPort = 44;
// The server answers a client command with its number plus this.
constexpr unsigned char kServerOffset = 100;
// A sub-negotiation longer than any COM-PORT answer is not kept whole.
constexpr qsizetype kMaxSub = 64;

// RFC 2217 codes of the enumerated settings, beside the names operators read.
constexpr std::pair<QSerialPort::Parity, quint32> kParityCodes[] = {
    {QSerialPort::NoParity, 1},   {QSerialPort::OddParity, 2},   {QSerialPort::EvenParity, 3},
    {QSerialPort::MarkParity, 4}, {QSerialPort::SpaceParity, 5},
};
constexpr std::pair<QSerialPort::StopBits, quint32> kStopCodes[] = {
    {QSerialPort::OneStop, 1}, {QSerialPort::TwoStop, 2}, {QSerialPort::OneAndHalfStop, 3}};
constexpr std::pair<QSerialPort::FlowControl, quint32> kFlowCodes[] = {
    {QSerialPort::NoFlowControl, 1},
    {QSerialPort::SoftwareControl, 2},
    {QSerialPort::HardwareControl, 3}};
const char* const kSettingNames[] = {"baud rate", "data bits", "parity", "stop bits",
                                     "flow control"};

template <typename T, std::size_t N>
quint32 CodeOf(const std::pair<T, quint32> (&codes)[N], T value) {
    for (const auto& [setting, code] : codes)
        if (setting == value)
            return code;
    return 0;
}

// The label of the setting with the code, from the settings' own choices.
template <typename T, std::size_t N>
QString LabelOf(const std::pair<T, quint32> (&codes)[N],
                std::span<const CPortSettings::Choice<T>> choices, quint32 code) {
    for (const auto& [setting, c] : codes)
        if (c == code)
            if (const auto* choice = CPortSettings::Find(choices, setting))
                return QLatin1String(choice->m_label);
    return QStringLiteral("code %1").arg(code);
}

void AppendCommand(QByteArray& out, unsigned char verb, unsigned char option) {
    out.append(char(kIac)).append(char(verb)).append(char(option));
}

} // namespace

CRfc2217Session::CRfc2217Session(const CPortSettings& wanted) {
    m_asked = {quint32(wanted.m_baud), quint32(wanted.m_dataBits),
               CodeOf(kParityCodes, wanted.m_parity), CodeOf(kStopCodes, wanted.m_stopBits),
               CodeOf(kFlowCodes, wanted.m_flow)};
}

QByteArray CRfc2217Session::Greeting() {
    // Binary both ways, so no byte value is translated; the settings follow once the server
    // agrees to the COM-PORT option.
    QByteArray out;
    AppendCommand(out, kWill, kComPort);
    AppendCommand(out, kWill, kBinary);
    AppendCommand(out, kDo, kBinary);
    AppendCommand(out, kDo, kSuppressGoAhead);
    m_weDo.set(kComPort).set(kBinary);
    m_theyDo.set(kBinary).set(kSuppressGoAhead);
    return out;
}

QByteArray CRfc2217Session::Receive(QByteArrayView bytes, QByteArray& reply) {
    QByteArray data;
    data.reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        switch (m_parse) {
        case Parse::Data:
            if (byte == kIac)
                m_parse = Parse::Iac;
            else if (!(m_afterCr && byte == 0 && !m_theyDo[kBinary]))
                data.append(char(byte)); // a server outside binary mode sends CR as CR NUL
            m_afterCr = byte == '\r';
            break;
        case Parse::Iac:
            m_parse = Parse::Data;
            m_afterCr = false;
            if (byte == kIac) {
                data.append(char(kIac));
            } else if (byte >= kWill) {
                m_verb = byte;
                m_parse = Parse::Verb;
            } else if (byte == kSb) {
                m_sub.clear();
                m_parse = Parse::Sub;
            }
            break; // any other command (NOP, GA, ...) carries nothing for the line
        case Parse::Verb:
            Command(m_verb, byte, reply);
            m_parse = Parse::Data;
            break;
        case Parse::Sub:
            if (byte == kIac)
                m_parse = Parse::SubIac;
            else if (m_sub.size() < kMaxSub)
                m_sub.append(char(byte));
            break;
        case Parse::SubIac:
            if (byte == kIac) {
                if (m_sub.size() < kMaxSub)
                    m_sub.append(char(kIac));
                m_parse = Parse::Sub;
                break;
            }
            // SE ends it; a sub-negotiation cut short by another command ends there too.
            if (byte == kSe)
                SubNegotiation();
            m_parse = byte == kSe ? Parse::Data : Parse::Iac;
            if (byte != kSe)
                --i;
            break;
        }
    }
    return data;
}

void CRfc2217Session::Command(unsigned char verb, unsigned char option, QByteArray& reply) {
    const bool theirSide = verb == kWill || verb == kWont;
    std::bitset<256>& enabled = theirSide ? m_theyDo : m_weDo;
    const bool acceptable = theirSide ? option == kBinary || option == kSuppressGoAhead
                                      : option == kBinary || option == kComPort;
    if (verb == kWill || verb == kDo) {
        if (!acceptable) {
            AppendCommand(reply, theirSide ? kDont : kWont, option);
            return;
        }
        if (!enabled[option]) // answer only a change, so the two sides never loop
            AppendCommand(reply, theirSide ? kDo : kWill, option);
        enabled.set(option);
        if (!theirSide && option == kComPort && !m_settingsSent)
            SendSettings(reply);
        return;
    }
    if (enabled[option])
        AppendCommand(reply, theirSide ? kDont : kWont, option);
    enabled.reset(option);
    if (!theirSide && option == kComPort) {
        m_comPortRefused = true;
        m_waiting.reset();
    }
}

void CRfc2217Session::SendSettings(QByteArray& reply) {
    for (int setting = 0; setting < kSettings; ++setting) {
        const quint32 asked = m_asked[setting];
        QByteArray value;
        for (int shift = setting == 0 ? 24 : 0; shift >= 0; shift -= 8)
            value.append(char(asked >> shift)); // the baud rate takes four bytes, high first
        reply.append(char(kIac)).append(char(kSb)).append(char(kComPort)).append(char(setting + 1));
        reply.append(value.replace(char(kIac), QByteArray(2, char(kIac))));
        reply.append(char(kIac)).append(char(kSe));
    }
    m_waiting.set();
    m_settingsSent = true;
}

void CRfc2217Session::SubNegotiation() {
    if (m_sub.size() < 3 || static_cast<unsigned char>(m_sub[0]) != kComPort)
        return;
    const int setting = static_cast<unsigned char>(m_sub[1]) - kServerOffset - 1;
    if (setting < 0 || setting >= kSettings)
        return; // line and modem state, flow suspension: nothing the receiving side needs
    // The baud rate takes four bytes, the others one; a cut or overlong value answers nothing.
    const QByteArrayView value = QByteArrayView(m_sub).sliced(2);
    if (value.size() != (setting == 0 ? 4 : 1))
        return;
    quint32 number = 0;
    for (const char byte : value)
        number = number << 8 | static_cast<unsigned char>(byte);
    m_waiting.reset(setting);
    m_answers[setting] = number;
}

QString CRfc2217Session::Words(int setting, quint32 value) const {
    switch (setting) {
    case 2:
        return LabelOf(kParityCodes, CPortSettings::ParityChoices(), value);
    case 3:
        return LabelOf(kStopCodes, CPortSettings::StopBitsChoices(), value);
    case 4:
        return LabelOf(kFlowCodes, CPortSettings::FlowChoices(), value);
    default:
        return QString::number(value);
    }
}

void CRfc2217Session::StopWaiting() {
    m_stoppedWaiting = true;
}

QString CRfc2217Session::Notice() const {
    if (m_comPortRefused)
        return QStringLiteral("the device server does not take line settings (no RFC 2217 "
                              "COM-PORT option); its own settings apply");
    QStringList took;
    QStringList otherwise;
    QStringList unanswered;
    for (int setting = 0; setting < kSettings; ++setting) {
        const QString name = QLatin1String(kSettingNames[setting]);
        const std::optional<quint32> answer = m_answers[setting];
        if (answer == m_asked[setting])
            took << name + QLatin1Char(' ') + Words(setting, *answer);
        else if (answer)
            otherwise << QStringLiteral("%1 %2 (asked for %3)")
                             .arg(name, Words(setting, *answer), Words(setting, m_asked[setting]));
        else if (m_stoppedWaiting && m_waiting[setting])
            unanswered << name;
    }
    const std::pair<QString, const QStringList&> parts[] = {
        {QStringLiteral("took "), took},
        {QStringLiteral("uses "), otherwise},
        {QStringLiteral("did not answer for "), unanswered}};
    QStringList sentence;
    for (const auto& [verb, settings] : parts)
        if (!settings.isEmpty())
            sentence << (sentence.isEmpty() ? QStringLiteral("the device server ")
                                            : QStringLiteral("it ")) +
                            verb + settings.join(QStringLiteral(", "));
    return sentence.join(QStringLiteral("; "));
}
