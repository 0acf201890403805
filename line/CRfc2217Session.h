#pragma once

#include "CPortSettings.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QStringList>
#include <array>
#include <bitset>
#include <optional>

// The client side of a Telnet connection with the COM-PORT option (RFC 2217) to a serial device
// server: it asks the server for the line settings and takes the Telnet layer off what arrives
// (IAC doubling, option negotiation, the server's answers), so no byte of the protocol reaches
// the line's data. The server's answers are noted, those that turn a setting down or never come
// too: they are not failures.
class CRfc2217Session {
public:
    explicit CRfc2217Session(const CPortSettings& wanted);

    // What the client sends as soon as the connection is up.
    QByteArray Greeting();
    // Takes what the server sent and returns the line's data in it; answers the protocol needs
    // are appended to reply.
    QByteArray Receive(QByteArrayView bytes, QByteArray& reply);
    // Settings asked for but not answered from now on count as ignored by the server.
    void StopWaiting();
    // What the server did with the settings, in words: those it took, those it set otherwise and
    // those it did not answer for; empty until it answers or refuses the COM-PORT option.
    QString Notice() const;

private:
    enum class Parse { Data, Iac, Verb, Sub, SubIac };
    // The settings, in the order of their RFC 2217 command numbers 1-5.
    static constexpr int kSettings = 5;

    void Command(unsigned char verb, unsigned char option, QByteArray& reply);
    void SubNegotiation();
    void SendSettings(QByteArray& reply);
    QString Words(int setting, quint32 value) const;

    std::array<quint32, kSettings> m_asked{};
    std::bitset<kSettings> m_waiting;
    bool m_settingsSent = false;
    bool m_stoppedWaiting = false;
    std::array<std::optional<quint32>, kSettings> m_answers;
    bool m_comPortRefused = false;

    Parse m_parse = Parse::Data;
    unsigned char m_verb = 0;
    QByteArray m_sub;
    bool m_afterCr = false;
    std::bitset<256> m_weDo;   // options enabled (or asked for) on our side
    std::bitset<256> m_theyDo; // options enabled on the server's side
};
