#pragma once

#include <QString>
#include <QStringList>
#include <functional>

// A device server's own network at the end of a cable that can be pulled: a network namespace
// joined to ours by a veth pair. Pulling drops every packet on the far side (no FIN, no reset,
// as when a cable comes out); the rest of the machine is untouched. Names and addresses carry
// the process id, so runs side by side keep apart. Needs root, ip (iproute2) and nft (nftables).
class CNetworkCable {
public:
    CNetworkCable();
    // Removes the namespace and with it the pair and the rules, whatever state they are in.
    ~CNetworkCable();
    CNetworkCable(const CNetworkCable&) = delete;
    CNetworkCable& operator=(const CNetworkCable&) = delete;

    // Empty when a cable can be laid here, otherwise why not.
    static QString Unavailable();
    // Empty when the cable is in place, otherwise why it could not be laid or what failed.
    const QString& Problem() const { return m_problem; }

    // The address of the far side, where its servers listen.
    const QString& FarAddress() const { return m_farAddress; }
    // A listening TCP socket on the far side at a port the system chose; -1 on failure.
    int ListenFar(quint16& port) const;
    // Runs `action` on the calling thread in the far side's network, whose loopback is down;
    // sockets made there stay there. False when the far side could not be entered.
    bool RunFar(const std::function<void()>& action) const;
    bool Pull();
    bool PlugIn();

private:
    // Runs ip with the arguments; on failure notes what it said.
    bool Ip(const QStringList& args);

    QString m_namespace;
    QString m_ourEnd;
    QString m_farAddress;
    QString m_problem;
};
