#pragma once

// The helper's requests to the kernel's routing and neighbour tables over
// rtnetlink: where an address is reached, and the neighbour entries it reads,
// makes and removes. Plain Linux headers: nothing of this needs a library.

#include "net/helper/HelperProtocol.h"

#include <cstdint>
#include <string>
#include <vector>

namespace helper {

// The mark on every neighbour entry the helper makes (NDA_PROTOCOL), so that
// `ip neigh show proto 147` lists them and a later helper knows them as ours.
inline constexpr std::uint8_t kEntryProtocol = 147;

struct Fd {
    int fd = -1;
    explicit Fd(int f)
        : fd(f) {}
    ~Fd();
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
};

class Netlink {
public:
    Netlink();
    [[nodiscard]] bool open() const { return m_fd.fd >= 0; }

    // Sends one request for one address (with a MAC and a protocol mark where
    // given) and answers the kernel's errno: 0 with its reply, if any, in reply.
    int exchange(std::uint16_t type, std::uint16_t flags, const void* family, std::size_t familySize,
                 std::uint32_t address, const Mac* mac, std::vector<char>* reply, bool marked = false);
    // A dump request (no address); each reply message is appended to replies.
    int dump(std::uint16_t type, const void* family, std::size_t familySize,
             std::vector<std::vector<char>>& replies);

private:
    int send(std::vector<char>& message, std::uint16_t type, std::uint16_t flags);
    Fd m_fd;
    std::uint32_t m_sequence = 0;
};

// The interface through which the host reaches an address directly, without a
// gateway; 0 with why set otherwise. A subnet's own network and broadcast
// addresses are refused too.
int directInterface(Netlink& nl, std::uint32_t address, std::string& why);

struct Neighbour {
    int error = 0; // the kernel's errno when the table could not be read
    bool present = false;
    std::uint16_t state = 0;
    std::uint8_t protocol = 0;
    std::uint8_t flags = 0;     // ndm_flags
    std::uint32_t extFlags = 0; // NDA_FLAGS_EXT
    Mac mac{};
    // How long ago the entry was made or last changed (NDA_CACHEINFO), in
    // milliseconds, to within the kernel's tick; -1 when not said.
    std::int64_t changedMsAgo = -1;
    [[nodiscard]] bool marked() const { return protocol == kEntryProtocol; }
    // Kept by someone else, whatever its state: learned from outside (a
    // bridge, a routing daemon), managed by the kernel on another's behalf,
    // or marked by another program. Never ours to replace, nor to remove.
    [[nodiscard]] bool foreign() const;
    // Made by the kernel for an address it could not (or not lately) resolve.
    [[nodiscard]] bool unresolved() const;
};

// The entry for address on interface, if any; error set when the read failed.
Neighbour lookUp(Netlink& nl, int interface, std::uint32_t address);

// A permanent, marked entry. replace: change the entry that is there (and fail
// if there is none); else create it, failing if any entry is there by then.
int addEntry(Netlink& nl, int interface, std::uint32_t address, const Mac& mac, bool replace);
int deleteEntry(Netlink& nl, int interface, std::uint32_t address);

std::string interfaceName(int interface);

} // namespace helper
