#pragma once

// A host kept in memory: its segments, its neighbour table, who answers ARP
// and echo on each segment. The tests of the service's rules run against it,
// and so does the service under wine, whose neighbour-table calls cannot be
// used (NetworkService main.cpp, --table-in-memory).

#include "net/service/NeighbourHost.h"

#include <functional>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

namespace service {

class MemoryNeighbourHost : public NeighbourHost {
public:
    struct Segment {
        int ifIndex = 0;
        std::string name;
        std::uint32_t hostAddress = 0; // this host's own on the segment
        int prefixLength = 24;
    };
    void addSegment(Segment s);
    // What the table holds for an address, put there by someone else.
    void putEntry(int ifIndex, std::uint32_t address, HostEntry entry);
    [[nodiscard]] HostEntry entry(int ifIndex, std::uint32_t address);
    [[nodiscard]] std::size_t entryCount();
    void answersArp(std::uint32_t address, const Mac& mac) {
        std::lock_guard l(m_lock);
        m_arp[address] = mac;
    }
    void answersEcho(std::uint32_t address) {
        std::lock_guard l(m_lock);
        m_echo[address] = true;
    }
    // Called after the last look before a change: a test changes the table there.
    std::function<void(std::uint32_t address)> beforeChange;
    // A table that cannot be read, or changed.
    void failReads(std::string why) {
        std::lock_guard l(m_lock);
        m_readFailure = std::move(why);
    }
    void failChanges(std::string why) {
        std::lock_guard l(m_lock);
        m_changeFailure = std::move(why);
    }
    [[nodiscard]] int arpAsked() {
        std::lock_guard l(m_lock);
        return m_arpAsked;
    }

    int directInterface(std::uint32_t address, std::string& why) override;
    std::string interfaceName(int ifIndex) override;
    HostEntry lookUp(int ifIndex, std::uint32_t address) override;
    Change addEntry(int ifIndex, std::uint32_t address, const Mac& mac, bool replace,
                    std::string& why) override;
    Change deleteEntry(int ifIndex, std::uint32_t address, std::string& why) override;
    std::string echo(std::uint32_t address, std::uint16_t sequence) override;
    std::string arpProbe(int ifIndex, std::uint32_t address) override;

private:
    std::mutex m_lock;
    std::vector<Segment> m_segments;
    std::map<std::pair<int, std::uint32_t>, HostEntry> m_table;
    std::map<std::uint32_t, Mac> m_arp;
    std::map<std::uint32_t, bool> m_echo;
    std::string m_readFailure;
    std::string m_changeFailure;
    int m_arpAsked = 0;
};

} // namespace service
