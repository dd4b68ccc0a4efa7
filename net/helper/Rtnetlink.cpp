#include "net/helper/Rtnetlink.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <linux/if_addr.h>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace helper {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds kKernelWait{1000};

void attribute(std::vector<char>& m, std::uint16_t type, const void* p, std::size_t n) {
    const std::size_t at = m.size();
    m.resize(at + RTA_SPACE(n));
    rtattr a{std::uint16_t(RTA_LENGTH(n)), type};
    std::memcpy(m.data() + at, &a, sizeof a);
    std::memcpy(m.data() + at + RTA_LENGTH(0), p, n);
}

// Calls f(type, data, size) for each attribute after the family header.
template <typename F> void attributes(const std::vector<char>& m, std::size_t familySize, F f) {
    for (std::size_t at = NLMSG_HDRLEN + NLMSG_ALIGN(familySize); at + sizeof(rtattr) <= m.size();) {
        rtattr a{};
        std::memcpy(&a, m.data() + at, sizeof a);
        if (a.rta_len < sizeof a || at + a.rta_len > m.size())
            return;
        f(a.rta_type, m.data() + at + RTA_LENGTH(0), std::size_t(a.rta_len - RTA_LENGTH(0)));
        at += RTA_ALIGN(a.rta_len);
    }
}

std::vector<char> message(const void* family, std::size_t familySize) {
    std::vector<char> m(NLMSG_SPACE(familySize));
    std::memcpy(m.data() + NLMSG_HDRLEN, family, familySize);
    return m;
}

// Reads the kernel's replies to request `sequence`: each non-error message
// goes to f; ends at an error message (the answer), or at NLMSG_DONE or the
// first message when not a dump.
template <typename F> int receive(int fd, std::uint32_t sequence, bool dump, F f) {
    const auto deadline = Clock::now() + kKernelWait;
    std::vector<char> buffer(32768);
    while (Clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (::poll(&p, 1, int(left)) <= 0)
            continue;
        sockaddr_nl from{};
        socklen_t size = sizeof from;
        const ssize_t n = ::recvfrom(fd, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                     reinterpret_cast<sockaddr*>(&from), &size);
        if (n < 0 && errno == ENOBUFS)
            return ENOBUFS;
        if (n <= 0 || from.nl_pid != 0)
            continue;
        for (std::size_t at = 0; at + sizeof(nlmsghdr) <= std::size_t(n);) {
            nlmsghdr r{};
            std::memcpy(&r, buffer.data() + at, sizeof r);
            if (r.nlmsg_len < sizeof r || at + r.nlmsg_len > std::size_t(n))
                return EPROTO;
            if (r.nlmsg_seq == sequence) {
                if (r.nlmsg_type == NLMSG_DONE)
                    return 0;
                if (r.nlmsg_type == NLMSG_ERROR) {
                    if (r.nlmsg_len < NLMSG_LENGTH(sizeof(nlmsgerr)))
                        return EPROTO;
                    nlmsgerr e{};
                    std::memcpy(&e, buffer.data() + at + NLMSG_HDRLEN, sizeof e);
                    return -e.error;
                }
                f(std::vector<char>(buffer.data() + at, buffer.data() + at + r.nlmsg_len));
                if (!dump)
                    return 0;
            }
            at += NLMSG_ALIGN(r.nlmsg_len);
        }
    }
    return ETIMEDOUT;
}

} // namespace

Fd::~Fd() {
    if (fd >= 0)
        ::close(fd);
}

Netlink::Netlink()
    : m_fd(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE)) {}

int Netlink::send(std::vector<char>& m, std::uint16_t type, std::uint16_t flags) {
    nlmsghdr h{std::uint32_t(m.size()), type, flags, ++m_sequence, 0};
    std::memcpy(m.data(), &h, sizeof h);
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(m_fd.fd, m.data(), m.size(), 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) < 0)
        return errno;
    return 0;
}

int Netlink::exchange(std::uint16_t type, std::uint16_t flags, const void* family, std::size_t familySize,
                      std::uint32_t address, const Mac* mac, std::vector<char>* reply, bool marked) {
    std::vector<char> m = message(family, familySize);
    const std::uint32_t dst = htonl(address);
    attribute(m, type == RTM_GETROUTE ? std::uint16_t(RTA_DST) : std::uint16_t(NDA_DST), &dst, sizeof dst);
    if (mac)
        attribute(m, NDA_LLADDR, mac->data(), mac->size());
    if (marked)
        attribute(m, NDA_PROTOCOL, &kEntryProtocol, sizeof kEntryProtocol);
    if (const int error = send(m, type, flags))
        return error;
    return receive(m_fd.fd, m_sequence, false, [reply](std::vector<char>&& r) {
        if (reply)
            *reply = std::move(r);
    });
}

int Netlink::dump(std::uint16_t type, const void* family, std::size_t familySize,
                  std::vector<std::vector<char>>& replies) {
    std::vector<char> m = message(family, familySize);
    if (const int error = send(m, type, NLM_F_REQUEST | NLM_F_DUMP))
        return error;
    return receive(m_fd.fd, m_sequence, true,
                   [&replies](std::vector<char>&& r) { replies.push_back(std::move(r)); });
}

namespace {

// The network or broadcast address of a subnet of the interface, if address is one.
bool subnetEdge(Netlink& nl, int interface, std::uint32_t address) {
    ifaddrmsg query{};
    query.ifa_family = AF_INET;
    std::vector<std::vector<char>> replies;
    if (nl.dump(RTM_GETADDR, &query, sizeof query, replies) != 0)
        return true; // not known to be safe: refused
    for (const auto& m : replies) {
        if (m.size() < NLMSG_LENGTH(sizeof(ifaddrmsg)))
            continue;
        ifaddrmsg a{};
        std::memcpy(&a, m.data() + NLMSG_HDRLEN, sizeof a);
        if (int(a.ifa_index) != interface || a.ifa_prefixlen == 0 || a.ifa_prefixlen > 30)
            continue;
        std::uint32_t local = 0;
        attributes(m, sizeof(ifaddrmsg), [&](unsigned type, const char* p, std::size_t n) {
            if (type == IFA_LOCAL && n == 4) {
                std::memcpy(&local, p, 4);
                local = ntohl(local);
            }
        });
        const std::uint32_t host = (1u << (32 - a.ifa_prefixlen)) - 1;
        if (local != 0 && (address & ~host) == (local & ~host) &&
            ((address & host) == 0 || (address & host) == host))
            return true;
    }
    return false;
}

} // namespace

int directInterface(Netlink& nl, std::uint32_t address, std::string& why) {
    rtmsg query{};
    query.rtm_family = AF_INET;
    query.rtm_dst_len = 32;
    std::vector<char> m;
    const int error = nl.exchange(RTM_GETROUTE, NLM_F_REQUEST, &query, sizeof query, address, nullptr, &m);
    if (error != 0 || m.size() < NLMSG_LENGTH(sizeof(rtmsg))) {
        why = "not reached by any route of this host";
        return 0;
    }
    rtmsg route{};
    std::memcpy(&route, m.data() + NLMSG_HDRLEN, sizeof route);
    int interface = 0;
    bool gateway = false;
    attributes(m, sizeof(rtmsg), [&](unsigned type, const char* p, std::size_t n) {
        if (type == RTA_OIF && n >= sizeof(int))
            std::memcpy(&interface, p, sizeof(int));
        gateway |= type == RTA_GATEWAY || type == RTA_VIA;
    });
    if (route.rtm_type == RTN_LOCAL)
        why = "an address of this host itself";
    else if (route.rtm_type == RTN_BROADCAST)
        why = "a broadcast address";
    else if (route.rtm_type != RTN_UNICAST || interface <= 0)
        why = "not a unicast address reached through an interface";
    else if (gateway)
        why = "reached only through a gateway, not on a segment of this host";
    else if (subnetEdge(nl, interface, address))
        why = "the network or broadcast address of a subnet of this host";
    else
        return interface;
    return 0;
}

bool Neighbour::unresolved() const {
    return state == NUD_NONE || (state & (NUD_INCOMPLETE | NUD_FAILED | NUD_STALE)) != 0;
}

bool Neighbour::foreign() const {
    return (flags & NTF_EXT_LEARNED) != 0 || (extFlags & NTF_EXT_MANAGED) != 0 ||
           (protocol != 0 && protocol != kEntryProtocol);
}

Neighbour lookUp(Netlink& nl, int interface, std::uint32_t address) {
    ndmsg query{};
    query.ndm_family = AF_INET;
    query.ndm_ifindex = interface;
    std::vector<char> m;
    Neighbour n;
    const int error = nl.exchange(RTM_GETNEIGH, NLM_F_REQUEST, &query, sizeof query, address, nullptr, &m);
    if (error == ENOENT)
        return n;
    if (error == 0 && m.size() < NLMSG_LENGTH(sizeof(ndmsg)))
        n.error = EPROTO;
    if (error != 0 || n.error != 0) {
        n.error = error != 0 ? error : n.error;
        return n;
    }
    ndmsg reply{};
    std::memcpy(&reply, m.data() + NLMSG_HDRLEN, sizeof reply);
    n.present = true;
    n.state = reply.ndm_state;
    n.flags = reply.ndm_flags;
    attributes(m, sizeof(ndmsg), [&](unsigned type, const char* p, std::size_t size) {
        if (type == NDA_LLADDR && size == n.mac.size())
            std::memcpy(n.mac.data(), p, size);
        if (type == NDA_PROTOCOL && size == 1)
            n.protocol = std::uint8_t(*p);
        if (type == NDA_FLAGS_EXT && size == sizeof n.extFlags)
            std::memcpy(&n.extFlags, p, size);
        if (type == NDA_CACHEINFO && size >= sizeof(nda_cacheinfo)) {
            nda_cacheinfo times{};
            std::memcpy(&times, p, sizeof times);
            // In the kernel's clock ticks for user space, counted down from jiffies.
            const long ticks = ::sysconf(_SC_CLK_TCK);
            if (ticks > 0)
                n.changedMsAgo = std::int64_t(times.ndm_updated) * 1000 / ticks;
        }
    });
    return n;
}

int addEntry(Netlink& nl, int interface, std::uint32_t address, const Mac& mac, bool replace) {
    ndmsg entry{};
    entry.ndm_family = AF_INET;
    entry.ndm_ifindex = interface;
    entry.ndm_state = NUD_PERMANENT;
    const std::uint16_t flags =
        NLM_F_REQUEST | NLM_F_ACK | (replace ? NLM_F_REPLACE : NLM_F_CREATE | NLM_F_EXCL);
    return nl.exchange(RTM_NEWNEIGH, flags, &entry, sizeof entry, address, &mac, nullptr, true);
}

int deleteEntry(Netlink& nl, int interface, std::uint32_t address) {
    ndmsg entry{};
    entry.ndm_family = AF_INET;
    entry.ndm_ifindex = interface;
    return nl.exchange(RTM_DELNEIGH, NLM_F_REQUEST | NLM_F_ACK, &entry, sizeof entry, address, nullptr,
                       nullptr);
}

std::string interfaceName(int interface) {
    char name[IF_NAMESIZE] = "?";
    ::if_indextoname(unsigned(interface), name);
    return name;
}

} // namespace helper
