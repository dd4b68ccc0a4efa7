#include "net/service/MemoryNeighbourHost.h"

namespace service {

void MemoryNeighbourHost::addSegment(Segment s) {
    std::lock_guard l(m_lock);
    m_segments.push_back(std::move(s));
}

void MemoryNeighbourHost::putEntry(int ifIndex, std::uint32_t address, HostEntry entry) {
    std::lock_guard l(m_lock);
    if (entry.present)
        m_table[{ifIndex, address}] = entry;
    else
        m_table.erase({ifIndex, address});
}

HostEntry MemoryNeighbourHost::entry(int ifIndex, std::uint32_t address) {
    std::lock_guard l(m_lock);
    const auto it = m_table.find({ifIndex, address});
    return it == m_table.end() ? HostEntry{} : it->second;
}

std::size_t MemoryNeighbourHost::entryCount() {
    std::lock_guard l(m_lock);
    return m_table.size();
}

int MemoryNeighbourHost::directInterface(std::uint32_t address, std::string& why) {
    std::lock_guard l(m_lock);
    for (const Segment& s : m_segments) {
        const std::uint32_t mask = ~std::uint32_t(0) << (32 - s.prefixLength);
        if ((address & mask) != (s.hostAddress & mask))
            continue;
        if (address == s.hostAddress)
            why = "an address of this host itself";
        else if ((address & ~mask) == 0 || (address & ~mask) == ~mask)
            why = "the network or broadcast address of a subnet of this host";
        else
            return s.ifIndex;
        return 0;
    }
    why = "reached only through a gateway, not on a segment of this host";
    return 0;
}

std::string MemoryNeighbourHost::interfaceName(int ifIndex) {
    std::lock_guard l(m_lock);
    for (const Segment& s : m_segments)
        if (s.ifIndex == ifIndex)
            return s.name;
    return std::to_string(ifIndex);
}

HostEntry MemoryNeighbourHost::lookUp(int ifIndex, std::uint32_t address) {
    HostEntry found;
    {
        std::lock_guard l(m_lock);
        if (!m_readFailure.empty()) {
            found.error = m_readFailure;
            return found;
        }
        if (const auto it = m_table.find({ifIndex, address}); it != m_table.end())
            found = it->second;
    }
    return found;
}

Change MemoryNeighbourHost::addEntry(int ifIndex, std::uint32_t address, const Mac& mac, bool replace,
                                     std::string& why) {
    if (beforeChange)
        beforeChange(address);
    std::lock_guard l(m_lock);
    if (!m_changeFailure.empty()) {
        why = m_changeFailure;
        return Change::Failed;
    }
    const bool there = m_table.count({ifIndex, address}) != 0;
    if (replace != there)
        return replace ? Change::Absent : Change::Exists;
    m_table[{ifIndex, address}] = HostEntry{{}, true, true, false, mac};
    return Change::Done;
}

Change MemoryNeighbourHost::deleteEntry(int ifIndex, std::uint32_t address, std::string& why) {
    if (beforeChange)
        beforeChange(address);
    std::lock_guard l(m_lock);
    if (!m_changeFailure.empty()) {
        why = m_changeFailure;
        return Change::Failed;
    }
    return m_table.erase({ifIndex, address}) ? Change::Done : Change::Absent;
}

std::string MemoryNeighbourHost::echo(std::uint32_t address, std::uint16_t) {
    std::lock_guard l(m_lock);
    // "Echo This", as the helper sends it.
    return m_echo.count(address) ? "ok answered 1 4563686f2054686973" : "ok silent";
}

std::string MemoryNeighbourHost::arpProbe(int, std::uint32_t address) {
    std::lock_guard l(m_lock);
    ++m_arpAsked;
    const auto it = m_arp.find(address);
    return it == m_arp.end() ? "ok silent" : "ok answered " + helper::macText(it->second);
}

} // namespace service
