// libFuzzer target: what a device server sends to the RFC 2217 client. The first six bytes
// choose the line settings asked for (four of baud rate, one of choices) and the size of the
// pieces the bytes arrive in; the rest is the server's stream. Cutting the stream anywhere gives
// the same line data, answers and notice; the answers are well-formed Telnet that never grow
// with more than the server sent (no negotiation loop) and carry the settings exactly as asked;
// and line data escaped as a server sends it comes through unchanged.
#include "CRfc2217Session.h"
#include "FuzzCheck.h"

#include <cstdint>

namespace {

constexpr char kIac = char(255);
constexpr char kSb = char(250);
constexpr char kSe = char(240);
constexpr char kComPort = 44;
constexpr qsizetype kHeader = 6;

CPortSettings SettingsOf(const std::uint8_t* header) {
    CPortSettings settings;
    settings.m_baud =
        qint32(quint32(header[0]) << 24 | header[1] << 16 | header[2] << 8 | header[3]);
    const auto choices = header[4];
    settings.m_dataBits = CPortSettings::DataBitsChoices()[choices % 4].m_value;
    settings.m_parity = CPortSettings::ParityChoices()[choices / 4 % 5].m_value;
    settings.m_stopBits = CPortSettings::StopBitsChoices()[choices / 20 % 3].m_value;
    settings.m_flow = CPortSettings::FlowChoices()[choices / 60 % 3].m_value;
    return settings;
}

struct Outcome {
    QByteArray data;
    QByteArray reply;
    QString notice;
    bool operator==(const Outcome&) const = default;
};

Outcome Run(const CPortSettings& settings, QByteArrayView stream, qsizetype piece) {
    CRfc2217Session session(settings);
    Outcome out{{}, session.Greeting(), {}};
    for (qsizetype at = 0; at < stream.size(); at += piece)
        out.data +=
            session.Receive(stream.sliced(at, std::min(piece, stream.size() - at)), out.reply);
    session.StopWaiting();
    out.notice = session.Notice();
    return out;
}

// The settings' sub-negotiation values as they would be read back, by command number.
void CheckReply(QByteArrayView reply, const CPortSettings& settings) {
    for (qsizetype at = 0; at < reply.size();) {
        Check(reply.size() - at >= 3 && reply[at] == kIac);
        if (reply[at + 1] != kSb) {
            Check(quint8(reply[at + 1]) >= 251); // WILL, WONT, DO, DONT
            at += 3;
            continue;
        }
        Check(reply[at + 2] == kComPort);
        const int command = reply[at + 3];
        QByteArray value;
        for (at += 4;; ++at) {
            Check(at + 1 < reply.size());
            if (reply[at] == kIac && reply[at + 1] == kSe)
                break;
            if (reply[at] == kIac)
                Check(reply[++at] == kIac);
            value += reply[at];
        }
        at += 2;
        quint32 number = 0;
        for (const char byte : value)
            number = number << 8 | quint8(byte);
        Check(command >= 1 && command <= 5 && value.size() == (command == 1 ? 4 : 1));
        if (command == 1)
            Check(number == quint32(settings.m_baud));
    }
}

QByteArray Escaped(QByteArrayView data) {
    return data.toByteArray().replace(kIac, QByteArray(2, kIac));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < kHeader)
        return 0;
    const CPortSettings settings = SettingsOf(data);
    const qsizetype piece = 1 + data[5] % 16;
    const QByteArrayView stream(data + kHeader, qsizetype(size) - kHeader);

    const Outcome whole = Run(settings, stream, std::max<qsizetype>(stream.size(), 1));
    Check(Run(settings, stream, piece) == whole);
    Check(whole.data.size() <= stream.size());
    // A greeting of four commands, the settings once, at most one command for each one received.
    Check(whole.reply.size() <= 12 + 48 + stream.size());
    CheckReply(whole.reply, settings);

    const Outcome escaped = Run(settings, Escaped(stream), piece);
    Check(escaped.data == stream && escaped.reply == CRfc2217Session(settings).Greeting());
    return 0;
}
