#include "net/HostNetworks.h"

#include <QFileInfo>

#include <arpa/inet.h>
#include <bit>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <net/if_arp.h>

namespace HostNetworks {

std::vector<HostNetwork> read() {
    std::vector<HostNetwork> found;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return found;
    const auto entry = [&found](const QString& name) -> HostNetwork& {
        for (HostNetwork& n : found)
            if (n.name == name)
                return n;
        HostNetwork n;
        n.name = name;
        n.index = ::if_nametoindex(name.toLocal8Bit().constData());
        n.bridgePort = QFileInfo::exists(QStringLiteral("/sys/class/net/%1/brport").arg(name));
        if (n.bridgePort)
            n.bridge = QFileInfo(QFileInfo(QStringLiteral("/sys/class/net/%1/master").arg(name)).symLinkTarget())
                           .fileName();
        found.push_back(std::move(n));
        return found.back();
    };
    for (const ifaddrs* i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr || !i->ifa_name)
            continue;
        // An address with a label ("eth0:1") belongs to the interface before the colon.
        HostNetwork& n = entry(QString::fromLocal8Bit(i->ifa_name).section(QLatin1Char(':'), 0, 0));
        n.up = i->ifa_flags & IFF_UP;
        n.loopback = i->ifa_flags & IFF_LOOPBACK;
        n.broadcast = i->ifa_flags & IFF_BROADCAST;
        n.arp = !(i->ifa_flags & IFF_NOARP);
        if (i->ifa_addr->sa_family == AF_PACKET) {
            // Tunnels and other links without ARP are of other hardware types.
            n.ethernet = reinterpret_cast<const sockaddr_ll*>(i->ifa_addr)->sll_hatype == ARPHRD_ETHER;
        } else if (i->ifa_addr->sa_family == AF_INET) {
            const quint32 address = ntohl(reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr);
            const quint32 mask =
                i->ifa_netmask ? ntohl(reinterpret_cast<const sockaddr_in*>(i->ifa_netmask)->sin_addr.s_addr)
                               : 0;
            n.addresses.emplace_back(address, std::popcount(mask));
        }
    }
    ::freeifaddrs(list);
    return found;
}

} // namespace HostNetworks
