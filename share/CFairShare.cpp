#include "CFairShare.h"

QHostAddress CFairShare::ClientOf(const QHostAddress& peer) {
    bool isIPv4 = false;
    if (const quint32 address = peer.toIPv4Address(&isIPv4); isIPv4)
        return QHostAddress(address);
    Q_IPV6ADDR address = peer.toIPv6Address();
    std::fill(std::begin(address.c) + 8, std::end(address.c), 0);
    return QHostAddress(address);
}
