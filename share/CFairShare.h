#pragma once

#include <QHash>
#include <QHostAddress>
#include <algorithm>

// Bounds that a crowd shares: once one is reached, a newcomer takes the place of the oldest
// entry of the client holding the most. However many one client opens and renews, it then only
// gives up its own, and everyone else still gets in; a crowd behind one router may use them all
// while alone.
class CFairShare {
public:
    // Who a connection counts against: its address, or for IPv6 its /64 prefix, since a host
    // there is commonly given the whole prefix to choose addresses from.
    static QHostAddress ClientOf(const QHostAddress& peer);

    // Of the entries in [first, last), oldest first, the oldest one that may give way of the
    // client holding the most that may; last when none may.
    template <typename It, typename Client, typename MayGiveWay>
    static It GivingWay(It first, It last, Client client, MayGiveWay mayGiveWay) {
        QHash<QHostAddress, int> held;
        for (It it = first; it != last; ++it)
            if (mayGiveWay(*it))
                ++held[client(*it)];
        if (held.isEmpty())
            return last;
        const int most = *std::max_element(held.cbegin(), held.cend());
        return std::find_if(first, last, [&](const auto& entry) {
            return mayGiveWay(entry) && held.value(client(entry)) == most;
        });
    }
};
