#pragma once

// The Windows host as the network service sees it, through the IP Helper
// API: the adapters' on-link prefixes, the neighbour table through
// GetIpNetEntry2, CreateIpNetEntry2, SetIpNetEntry2 and DeleteIpNetEntry2
// (never the older calls, which can answer success and change nothing), the
// echo through IcmpSendEcho2 and the ARP probe through SendARP.
//
// With tableInMemory the neighbour table and the ARP probe are a memory's
// (MemoryNeighbourHost) and only the adapters and the echo are the host's:
// under wine, where the table's calls end the process and SendARP does
// nothing, the service is tested that way.

#include "net/service/MemoryNeighbourHost.h"

#include <memory>

namespace service {

class WindowsNeighbourHost final : public NeighbourHost {
public:
    explicit WindowsNeighbourHost(bool tableInMemory);
    // What the greeting offers: " echo arp neigh", without "arp" for a table in memory.
    [[nodiscard]] std::string abilities() const;

    int directInterface(std::uint32_t address, std::string& why) override;
    std::string interfaceName(int ifIndex) override;
    HostEntry lookUp(int ifIndex, std::uint32_t address) override;
    Change addEntry(int ifIndex, std::uint32_t address, const Mac& mac, bool replace,
                    std::string& why) override;
    Change deleteEntry(int ifIndex, std::uint32_t address, std::string& why) override;
    std::string echo(std::uint32_t address, std::uint16_t sequence) override;
    std::string arpProbe(int ifIndex, std::uint32_t address) override;

private:
    std::unique_ptr<MemoryNeighbourHost> m_memory;
};

// A Windows error's text, in English where the system has it.
std::string systemErrorText(unsigned long error);

} // namespace service
