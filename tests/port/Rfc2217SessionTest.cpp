// The Telnet layer of an RFC 2217 line against awkward and hostile server bytes: however the
// stream is cut into reads, the line gets the same data and the server the same answers.
#include "CRfc2217Session.h"
#include "PortTestSupport.h"

#include <gtest/gtest.h>
#include <initializer_list>
#include <vector>

namespace {

constexpr int kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251, kSb = 250;
constexpr int kGa = 249, kNop = 241, kSe = 240, kBinary = 0, kEcho = 1, kComPort = 44;

// Wire bytes written as numbers, characters included.
QByteArray Wire(std::initializer_list<int> bytes) {
    QByteArray out;
    for (const int b : bytes)
        out += char(b);
    return out;
}

QByteArray Cmd(int verb, int option) {
    return Wire({kIac, verb, option});
}

// A whole sub-negotiation around the body as it goes on the wire.
QByteArray Sub(std::initializer_list<int> body) {
    return Wire({kIac, kSb}) + Wire(body) + Wire({kIac, kSe});
}

struct Outcome {
    QByteArray m_data;
    QByteArray m_reply;
    QString m_notice;
    bool operator==(const Outcome&) const = default;
};

void PrintTo(const Outcome& o, std::ostream* out) {
    *out << "data " << o.m_data.toHex(' ').toStdString() << ", reply "
         << o.m_reply.toHex(' ').toStdString() << ", notice \"" << o.m_notice.toStdString() << '"';
}

// A session that has greeted gets the stream in reads ending at the cuts, then gives up waiting.
Outcome Feed(const QByteArray& stream, const std::vector<qsizetype>& cuts) {
    CRfc2217Session session{CPortSettings{}};
    session.Greeting();
    Outcome outcome;
    qsizetype from = 0;
    for (const qsizetype to : cuts) {
        outcome.m_data +=
            session.Receive(QByteArrayView(stream).sliced(from, to - from), outcome.m_reply);
        from = to;
    }
    outcome.m_data += session.Receive(QByteArrayView(stream).sliced(from), outcome.m_reply);
    session.StopWaiting();
    outcome.m_notice = session.Notice();
    return outcome;
}

const QString kNoneAnswered = QStringLiteral(
    "the device server did not answer for baud rate, data bits, parity, stop bits, flow control");

const struct Case {
    const char* m_name;
    QByteArray m_stream;
    QByteArray m_data;
    QString m_notice;
} kCases[] = {
    {"DoubledIacAndBareCommands",
     Wire({'a', kIac, kIac, 'b', kIac, kNop, 'c', kIac, kGa, kIac, kIac, kIac, kIac, 'd'}),
     Wire({'a', kIac, 'b', 'c', kIac, kIac, 'd'}),
     {}},
    {"NegotiationBetweenData",
     'x' + Cmd(kWill, kEcho) + 'y' + Cmd(kDo, 24) + 'z' + Cmd(kDont, 99) + 'w' +
         Cmd(kWill, kBinary),
     "xyzw",
     {}},
    {"CrNulOnlyOutsideBinary",
     Wire({'a', '\r', 0, 'b', kIac, kWont, kBinary, 'c', '\r', 0, 'd', '\r', '\r', 0, 0}),
     Wire({'a', '\r', 0, 'b', 'c', '\r', 'd', '\r', '\r', 0}),
     {}},
    {"SettingsAnswersWithDoubledIac",
     Cmd(kDo, kComPort) + '1' + Sub({kComPort, 101, 0, 0, kIac, kIac, kIac, kIac}) + '2' +
         Sub({kComPort, 102, 8}) + '3' + Sub({kComPort, 107, 0x60}) + '4',
     "1234",
     "the device server took data bits 8; it uses baud rate 65535 (asked for 9600); it did not "
     "answer for parity, stop bits, flow control"},
    {"LoneIacAtTheEnd", Wire({'a', 'b', kIac}), "ab", {}},
    {"LoneIacInsideASubNegotiation", Wire({'a', kIac, kSb, kComPort, 101, kIac}), "a", {}},
    {"SubNegotiationCutShortByACommand",
     Cmd(kDo, kComPort) + 'a' + Wire({kIac, kSb, kComPort, 101, 0, 0}) + Cmd(kWill, kEcho) + 'b',
     "ab", kNoneAnswered},
    {"SubNegotiationCutShortByGarbage",
     Wire({'a', kIac, kSb, kComPort, kIac, 'x', 'y'}) + Sub({}) + 'z',
     "ayz",
     {}},
    {"TruncatedAndForeignAnswers",
     Cmd(kDo, kComPort) + Sub({kComPort, 101, 0x25}) + 'a' + Sub({kComPort, 102}) + 'b' +
         Sub({kComPort}) + 'c' + Sub({24, 0}) + 'd',
     "abcd", kNoneAnswered},
    // A sub-negotiation far longer than any answer takes the bytes up to its end, none beyond.
    {"OverlongSubNegotiation",
     Cmd(kDo, kComPort) + Wire({kIac, kSb, kComPort, 102}) + QByteArray(300, 'z') +
         Wire({kIac, kSe}) + "tail",
     "tail", kNoneAnswered},
};

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.m_name;
}

class Rfc2217Stream : public ::testing::TestWithParam<Case> {};

TEST_P(Rfc2217Stream, SameDataAndAnswersWhereverTheReadsEnd) {
    const Case& c = GetParam();
    const Outcome whole = Feed(c.m_stream, {});
    EXPECT_EQ(whole.m_data, c.m_data) << whole.m_data.toHex(' ').toStdString();
    EXPECT_EQ(whole.m_notice, c.m_notice);
    std::vector<qsizetype> everyByte;
    for (qsizetype cut = 0; cut <= c.m_stream.size(); ++cut) {
        EXPECT_EQ(Feed(c.m_stream, {cut}), whole) << "cut at " << cut;
        everyByte.push_back(cut);
    }
    EXPECT_EQ(Feed(c.m_stream, everyByte), whole) << "byte by byte";
}

INSTANTIATE_TEST_SUITE_P(Hostile, Rfc2217Stream, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.m_name); });

// What the server is answered: refusals of options it offers or asks for, and the settings sent
// once, as soon as it agrees to COM-PORT.
TEST(Rfc2217Session, AnswersOptionsAndSendsTheSettingsOnce) {
    const Outcome outcome = Feed(Cmd(kWill, kEcho) + Cmd(kDo, 24) + Cmd(kDo, kComPort) +
                                     Cmd(kDo, kComPort) + Cmd(kWont, kBinary) + Cmd(kWont, kBinary),
                                 {});
    const QByteArray settings = Sub({kComPort, 1, 0, 0, 0x25, 0x80}) + Sub({kComPort, 2, 8}) +
                                Sub({kComPort, 3, 1}) + Sub({kComPort, 4, 1}) +
                                Sub({kComPort, 5, 1});
    EXPECT_EQ(outcome.m_reply, Cmd(kDont, kEcho) + Cmd(kWont, 24) + settings + Cmd(kDont, kBinary));
}

} // namespace
