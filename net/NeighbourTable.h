#pragma once

#include "address/AddressRules.h"

#include <QtGlobal>

// The host's neighbour table as the ARP route uses it: a static entry that
// ties the address to be given to the adaptor's MAC, so that the probes that
// follow reach the adaptor before it has an address of its own; and the
// entry's removal once the route is done with it. Addresses are in host byte
// order: 10.77.78.50 is 0x0a4d4e32.
class NeighbourTable {
public:
    virtual ~NeighbourTable() = default;
    virtual void bind(quint32 address, const AddressRules::MacOctets& mac) = 0;
    virtual void release(quint32 address) = 0;
};
