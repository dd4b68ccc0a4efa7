#pragma once

#include "base/RunTimeError.h"
#include "net/NeighbourTable.h"

#include <optional>
#include <utility>

// The ARP route's static neighbour entry over a run. The route's own ends
// remove it; a run that ends any other way (an error, the window closed, a
// new Setup) has its leftover entry removed too, so that it never hides a
// host later.
class NeighbourBinding {
public:
    explicit NeighbourBinding(NeighbourTable& table)
        : m_table(table) {}

    void bind(quint32 address, const AddressRules::MacOctets& mac) {
        m_table.bind(address, mac);
        m_bound = address;
    }
    // The route's own end, whether or not it made an entry for the address.
    void release(quint32 address) {
        m_bound.reset();
        m_table.release(address);
    }
    void releaseLeftover() {
        if (!m_bound)
            return;
        const quint32 address = *std::exchange(m_bound, std::nullopt);
        try {
            m_table.release(address);
        } catch (const RunTimeError&) {
            // The table took this address once; a refusal now changes nothing.
        }
    }

private:
    NeighbourTable& m_table;
    std::optional<quint32> m_bound; // an entry made and not yet removed
};
