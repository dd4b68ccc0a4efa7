#pragma once

// What the network service asks of the host it runs on: where an address is
// reached, the neighbour table's entry for it, the two probes, and the
// changes to the table. Plain C++, so that the service's rules run and are
// tested on any host against a table kept in memory (MemoryNeighbourHost.h).

#include "net/helper/HelperProtocol.h"

#include <cstdint>
#include <string>

namespace service {

using helper::Mac;

struct HostEntry {
    std::string error; // why the table could not be read; empty when it was
    bool present = false;
    bool permanent = false;  // made by hand or by a program, never by the host's resolution
    bool unresolved = false; // the host could not (or not lately) resolve the address
    Mac mac{};
};

enum class Change { Done, Exists, Absent, Failed };

class NeighbourHost {
public:
    virtual ~NeighbourHost() = default;
    // The interface through which the address is reached without a gateway;
    // 0 with why set otherwise (a gateway, no route, an address of this host,
    // a subnet's network or broadcast address).
    virtual int directInterface(std::uint32_t address, std::string& why) = 0;
    virtual std::string interfaceName(int ifIndex) = 0;
    virtual HostEntry lookUp(int ifIndex, std::uint32_t address) = 0;
    // A permanent entry. replace: change the one that is there (Absent if
    // none is); else create it, Exists if any entry is there by then.
    virtual Change addEntry(int ifIndex, std::uint32_t address, const Mac& mac, bool replace,
                            std::string& why) = 0;
    virtual Change deleteEntry(int ifIndex, std::uint32_t address, std::string& why) = 0;
    // The probes answer protocol lines: "ok answered ...", "ok silent", ...
    virtual std::string echo(std::uint32_t address, std::uint16_t sequence) = 0;
    virtual std::string arpProbe(int ifIndex, std::uint32_t address) = 0;
};

} // namespace service
