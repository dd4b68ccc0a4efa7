#pragma once

#include <QString>

#include <utility>
#include <vector>

// The host's own networks, as the kernel lists them (getifaddrs): each
// interface with what it is and its IPv4 subnets. The one place that reads
// them: the broadcast datagram picks its segments here, a search for adaptors
// its ranges, and the checks before a run whether an address is on a segment.
struct HostNetwork {
    QString name;
    unsigned index = 0; // the kernel's number for it
    bool up = false;
    bool loopback = false;
    bool broadcast = false;                         // can send to its subnet's broadcast address
    bool arp = false;                               // resolves addresses by ARP
    bool ethernet = false;                          // its link is Ethernet
    bool bridgePort = false;                        // a port of a bridge: it carries the bridge's traffic
    QString bridge;                                 // that bridge's name
    std::vector<std::pair<quint32, int>> addresses; // address (host byte order) and prefix length

    // The address lies in one of its subnets.
    [[nodiscard]] bool holds(quint32 address) const;
};

namespace HostNetworks {
// Every interface of this network namespace, in the kernel's order.
[[nodiscard]] std::vector<HostNetwork> read();
// The interface that is up and whose subnet holds the address, if any: the
// segment on which the address is reached without a gateway.
[[nodiscard]] QString segmentOf(quint32 address, const std::vector<HostNetwork>& networks = read());
// The address lies in the subnet (an address and its prefix length).
[[nodiscard]] bool inSubnet(quint32 address, quint32 subnet, int prefixLength);
} // namespace HostNetworks
