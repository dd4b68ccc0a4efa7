#include "net/HostNetworks.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <iphlpapi.h>
#include <windows.h>

#include <vector>

namespace HostNetworks {

// The adapters as the IP Helper lists them, with their IPv4 unicast
// addresses. Windows has no bridge ports of the Linux kind: a bridge is an
// adapter of its own, and its members carry no address.
std::vector<HostNetwork> read() {
    std::vector<HostNetwork> found;
    ULONG size = 16 * 1024;
    std::vector<unsigned char> buffer;
    ULONG status = ERROR_BUFFER_OVERFLOW;
    for (int tries = 0; tries < 4 && status == ERROR_BUFFER_OVERFLOW; ++tries) {
        buffer.resize(size);
        status = ::GetAdaptersAddresses(AF_INET,
                                        GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER,
                                        nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
    }
    if (status != NO_ERROR)
        return found;
    for (auto* a = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data()); a; a = a->Next) {
        HostNetwork n;
        n.name = QString::fromWCharArray(a->FriendlyName);
        n.index = a->IfIndex;
        n.up = a->OperStatus == IfOperStatusUp;
        n.loopback = a->IfType == IF_TYPE_SOFTWARE_LOOPBACK;
        n.ethernet = a->IfType == IF_TYPE_ETHERNET_CSMACD || a->IfType == IF_TYPE_IEEE80211;
        n.broadcast = !n.loopback && a->IfType != IF_TYPE_PPP && a->IfType != IF_TYPE_TUNNEL;
        n.arp = n.broadcast; // Ethernet and Wi-Fi resolve by ARP
        for (auto* u = a->FirstUnicastAddress; u; u = u->Next) {
            if (!u->Address.lpSockaddr || u->Address.lpSockaddr->sa_family != AF_INET)
                continue;
            const auto* in = reinterpret_cast<const sockaddr_in*>(u->Address.lpSockaddr);
            n.addresses.emplace_back(ntohl(in->sin_addr.s_addr), int(u->OnLinkPrefixLength));
        }
        found.push_back(std::move(n));
    }
    return found;
}

} // namespace HostNetworks
