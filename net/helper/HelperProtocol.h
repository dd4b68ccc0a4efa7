#pragma once

// The requests that a front end sends to the network helper, one line each,
// and the rules on what they may name. Plain C++: the helper holds network
// capabilities and links nothing else.
//
// Protocol 1, all lines end in a line feed:
//   helper, once started:  "netrika-net-helper 1 can[ echo][ arp][ neigh][ sweep]"
//   front end:             "echo A.B.C.D" | "arp-probe A.B.C.D"
//                          | "neigh-add A.B.C.D xx:xx:xx:xx:xx:xx" | "neigh-del A.B.C.D"
//                          | "arp-sweep IF A.B.C.D/LEN"
//   helper, one answer per request:
//     "ok answered <ms> <hex of the echoed data>" | "ok silent" | "ok unreachable A.B.C.D"   (echo)
//     "ok answered xx:xx:xx:xx:xx:xx" | "ok silent"                                         (arp-probe)
//     "ok added <interface>" | "ok removed" | "ok absent"                                  (neigh-*)
//     "found A.B.C.D xx:xx:xx:xx:xx:xx" ... then "ok swept <N>"                            (arp-sweep)
//     "refused <why>"   the request was not carried out, nothing was sent
//     "failed <why>"    it was allowed but the host could not carry it out
//
// arp-sweep asks the link on interface IF who has each host address of the
// range (not its network and broadcast addresses): every address once, then
// every address again (one lost frame must not hide an adaptor), then half a
// second for late answers. IF is 1 to 15 of [A-Za-z0-9_.-] (not "." or
// ".."); A.B.C.D is the range's network address; LEN is 20 to 30, so a sweep
// asks 4094 addresses at most. The interface must exist, be up, not be
// loopback and use ARP. The requests carry sender address 0.0.0.0, so no
// neighbour's table learns anything from them. Each address/MAC pair is
// answered with a "found" line as it is first heard (a second MAC for one
// address is a second line); the end line "ok swept <N>" gives how many
// addresses were asked. A sweep has a budget of its own, apart from the
// probes': at most kSweepFramesPerSecond frames a second, evenly paced, and
// one sweep at a time in each network namespace; a second there is refused
// "another sweep is running on this host". A SIGTERM or the front end going away stops a sweep
// between two frames.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace helper {

inline constexpr int kProtocol = 1;
inline constexpr std::string_view kGreeting = "netrika-net-helper 1 can";
// No valid request is longer; a longer line is refused whole.
inline constexpr std::size_t kMaxLine = 64;
// A sweep's pace: a /24 asked twice in about 2.5 s, a /20 in about 41 s.
inline constexpr int kSweepFramesPerSecond = 200;
// How long a sweep listens after its last frame.
inline constexpr int kSweepLateMs = 500;
inline constexpr int kSweepShortestPrefix = 20;
inline constexpr int kSweepLongestPrefix = 30;

using Mac = std::array<std::uint8_t, 6>;

struct Request {
    enum Kind { Echo, ArpProbe, NeighAdd, NeighDel, ArpSweep };
    Kind kind = Echo;
    std::uint32_t address = 0;   // host byte order: 10.1.2.3 is 0x0a010203; ArpSweep: the network
    Mac mac{};                   // NeighAdd only
    std::string interfaceName{}; // ArpSweep only
    int prefixLength = 0;        // ArpSweep only
    bool operator==(const Request&) const = default;
};

// Reads one request line, without its line feed. Strict: one space between
// fields, dotted decimal addresses (one to three digits an octet, no sign, no
// leading zero), MACs as six lower-case hexadecimal pairs joined by ':'. On refusal, why says
// what was wrong.
[[nodiscard]] std::optional<Request> parseRequest(std::string_view line, std::string* why = nullptr);
// The line parseRequest reads back as the same request.
[[nodiscard]] std::string formatRequest(const Request& request);

[[nodiscard]] std::string addressText(std::uint32_t address);
[[nodiscard]] std::string macText(const Mac& mac);

// Why an address may never be named by a request (loopback, multicast,
// broadcast, unspecified, reserved), or an empty text when it may.
[[nodiscard]] std::string_view refusedAddress(std::uint32_t address);
// Why a MAC may never be bound to an address (multicast, all zeros), or empty.
[[nodiscard]] std::string_view refusedMac(const Mac& mac);

// The host addresses a sweep of a /length asks: all but the network and broadcast addresses.
[[nodiscard]] constexpr std::uint32_t sweptAddresses(int length) {
    return (std::uint32_t(1) << (32 - length)) - 2;
}

} // namespace helper
