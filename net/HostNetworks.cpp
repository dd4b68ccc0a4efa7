#include "net/HostNetworks.h"

#include <algorithm>

bool HostNetwork::holds(quint32 address) const {
    return std::any_of(addresses.begin(), addresses.end(), [address](const std::pair<quint32, int>& a) {
        return HostNetworks::inSubnet(address, a.first, a.second);
    });
}

namespace HostNetworks {

bool inSubnet(quint32 address, quint32 subnet, int prefixLength) {
    if (prefixLength <= 0)
        return true;
    const quint32 mask = prefixLength >= 32 ? ~0u : ~(~0u >> prefixLength);
    return (address & mask) == (subnet & mask);
}

QString segmentOf(quint32 address, const std::vector<HostNetwork>& networks) {
    // The longest prefix that holds it, as the kernel's own route would choose.
    QString best;
    int bestLength = -1;
    for (const HostNetwork& n : networks) {
        if (!n.up || n.loopback)
            continue;
        for (const auto& [own, length] : n.addresses)
            if (length > bestLength && length > 0 && inSubnet(address, own, length)) {
                best = n.name;
                bestLength = length;
            }
    }
    return best;
}

} // namespace HostNetworks
