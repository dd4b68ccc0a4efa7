#pragma once

// The requests that a front end sends to the network helper, one line each,
// and the rules on what they may name. Plain C++: the helper holds network
// capabilities and links nothing else.
//
// Protocol 1, all lines end in a line feed:
//   helper, once started:  "netrika-net-helper 1 can[ echo][ arp][ neigh]"
//   front end:             "echo A.B.C.D" | "arp-probe A.B.C.D"
//                          | "neigh-add A.B.C.D xx:xx:xx:xx:xx:xx" | "neigh-del A.B.C.D"
//   helper, one answer per request:
//     "ok answered <ms> <hex of the echoed data>" | "ok silent" | "ok unreachable A.B.C.D"   (echo)
//     "ok answered xx:xx:xx:xx:xx:xx" | "ok silent"                                         (arp-probe)
//     "ok added <interface>" | "ok removed" | "ok absent"                                  (neigh-*)
//     "refused <why>"   the request was not carried out, nothing was sent
//     "failed <why>"    it was allowed but the host could not carry it out

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

using Mac = std::array<std::uint8_t, 6>;

struct Request {
    enum Kind { Echo, ArpProbe, NeighAdd, NeighDel };
    Kind kind = Echo;
    std::uint32_t address = 0; // host byte order: 10.1.2.3 is 0x0a010203
    Mac mac{};                 // NeighAdd only
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

} // namespace helper
