#pragma once

// The two probes the helper sends: an ICMP echo request carrying "Echo This",
// and an ARP request asking who has an address. Each waits half a second for
// its answer and answers a protocol line ("ok answered ...", "ok silent", ...).

#include <cstdint>
#include <string>

namespace helper {

std::string echo(std::uint32_t target, std::uint16_t sequence);
// Asks the link who has the address, with sender address 0.0.0.0 so that no
// neighbour's table learns anything from the question. An interface that does
// not use ARP answers "refused ...".
std::string arpProbe(int interface, std::uint32_t target);

} // namespace helper
