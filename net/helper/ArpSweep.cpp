#include "net/helper/ArpSweep.h"

#include "net/helper/Capabilities.h"
#include "net/helper/Rtnetlink.h"
#include "net/helper/RuntimeFolder.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <linux/capability.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netpacket/packet.h>
#include <poll.h>
#include <set>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace helper {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::nanoseconds kFrameGap{1000000000 / kSweepFramesPerSecond};
// A namespace's byte of the sweep lock is at its inode, kept within the range
// of a file offset.
constexpr std::uint64_t kLockOffsetMask = (std::uint64_t(1) << 62) - 1;

std::string rangeText(const Request& r) {
    return addressText(r.address) + "/" + std::to_string(r.prefixLength);
}

} // namespace

std::string ArpSweep::refusedInterface(const std::string& name, int& index, Mac& own) {
    index = int(::if_nametoindex(name.c_str()));
    if (index <= 0)
        return "refused there is no interface " + name;
    Fd s(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (s.fd < 0)
        return std::string("failed no socket: ") + std::strerror(errno);
    ifreq request{};
    std::memcpy(request.ifr_name, name.data(), name.size()); // at most 15, as the request was read
    if (::ioctl(s.fd, SIOCGIFFLAGS, &request) < 0)
        return "failed " + name + ": " + std::strerror(errno);
    const int flags = request.ifr_flags;
    if (!(flags & IFF_UP))
        return "refused " + name + " is down";
    if (flags & IFF_LOOPBACK)
        return "refused " + name + " is a loopback interface";
    if (flags & IFF_NOARP)
        return "refused " + name + " does not use ARP";
    if (::ioctl(s.fd, SIOCGIFHWADDR, &request) < 0)
        return "failed " + name + ": " + std::strerror(errno);
    if (request.ifr_hwaddr.sa_family != ARPHRD_ETHER)
        return "refused " + name + " does not use ARP: it is no Ethernet interface";
    std::memcpy(own.data(), request.ifr_hwaddr.sa_data, 6);
    return {};
}

std::string ArpSweep::run(const Request& r, const Say& say, const Stop& stop) {
    const std::uint32_t hostBits = (std::uint32_t(1) << (32 - r.prefixLength)) - 1;
    const std::uint32_t network = r.address;
    const std::uint32_t broadcast = network | hostBits;
    // Refused blocks are /8 and wider and a range is /20 at most, so a range
    // that touches one holds its first or its last address.
    for (const std::uint32_t end : {network, broadcast})
        if (const auto why = refusedAddress(end); !why.empty())
            return "refused " + rangeText(r) + " holds " + std::string(why);
    int index = 0;
    Mac own{};
    if (std::string no = refusedInterface(r.interfaceName, index, own); !no.empty())
        return no;

    std::string why;
    if (!ensureRuntimeFolder(why))
        return "failed " + why;
    const std::string lockPath = std::string(kRuntimeFolder) + "/sweep";
    // Root's fixed file, never made here: one a member's helper made would be
    // that member's, to remove or to lock others out of. Not blocking: a
    // member's lease on it must not hold the sweep.
    Fd lock(::open(lockPath.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (lock.fd < 0)
        return "failed the sweep lock " + lockPath + " cannot be opened: " + std::strerror(errno) +
               fixedFileAdvice();
    // One sweep at a time on each network namespace's wire: a lock on the one
    // byte of the file at this namespace's inode, so that sweeps in other
    // namespaces (other tests' runs, containers) neither wait nor are refused.
    // The lock is the open file description's, freed by the kernel however
    // the helper ends.
    const NetworkNamespace& ns = thisNetworkNamespace();
    if (!ns.known())
        return "failed the sweep lock cannot be told apart from other networks': /proc/self/ns/net cannot be "
               "read";
    struct flock share {};
    share.l_type = F_WRLCK;
    share.l_whence = SEEK_SET;
    share.l_start = off_t(ns.inode & kLockOffsetMask);
    share.l_len = 1;
    if (::fcntl(lock.fd, F_OFD_SETLK, &share) != 0)
        return errno == EAGAIN || errno == EACCES
                   ? "refused another sweep is running on this host"
                   : "failed the sweep lock cannot be taken: " + std::string(std::strerror(errno));

    Fd s(-1);
    {
        Raised raw(CAP_NET_RAW);
        if (!raw.ok())
            return "failed no packet socket: this helper lacks CAP_NET_RAW";
        s.fd = ::socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, htons(ETH_P_ARP));
    }
    if (s.fd < 0)
        return std::string("failed no packet socket: ") + std::strerror(errno);
    sockaddr_ll at{};
    at.sll_family = AF_PACKET;
    at.sll_protocol = htons(ETH_P_ARP);
    at.sll_ifindex = index;
    if (::bind(s.fd, reinterpret_cast<sockaddr*>(&at), sizeof at) < 0)
        return std::string("failed packet socket: ") + std::strerror(errno);
    sockaddr_ll to = at;
    to.sll_halen = 6;
    std::memset(to.sll_addr, 0xff, 6);
    unsigned char question[28] = {0, 1, 8, 0, 6, 4, 0, ARPOP_REQUEST};
    std::memcpy(question + 8, own.data(), 6); // sender address (bytes 14-17) stays 0.0.0.0

    const std::uint32_t count = sweptAddresses(r.prefixLength);
    std::set<std::pair<std::uint32_t, Mac>> heard;
    bool gone = false;
    // Reads every answer waiting; an answer is an ARP reply from an address
    // of the range, from any MAC but ours.
    const auto listen = [&] {
        unsigned char p[1500];
        for (;;) {
            const ssize_t n = ::recv(s.fd, p, sizeof p, MSG_DONTWAIT);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 28)
                return;
            if (p[0] != 0 || p[1] != 1 || p[2] != 8 || p[3] != 0 || p[4] != 6 || p[5] != 4 || p[6] != 0 ||
                p[7] != ARPOP_REPLY)
                continue;
            Mac mac{};
            std::memcpy(mac.data(), p + 8, 6);
            std::uint32_t spa = 0;
            std::memcpy(&spa, p + 14, 4);
            spa = ntohl(spa);
            if (mac == own || !refusedMac(mac).empty() || spa <= network || spa >= broadcast)
                continue;
            // A link that answers with endless made-up MACs must not fill the helper's memory.
            if (heard.size() >= 16 * std::size_t(count))
                continue;
            if (heard.insert({spa, mac}).second && !say("found " + addressText(spa) + " " + macText(mac)))
                gone = true;
        }
    };
    // Listens until then, or until the sweep must end.
    const auto listenUntil = [&](Clock::time_point then) {
        for (;;) {
            listen();
            if (gone || stop())
                return false;
            const auto now = Clock::now();
            if (now >= then)
                return true;
            // Short waits, so that a SIGTERM or a closed front end is seen soon.
            const auto left = std::min<std::chrono::milliseconds>(
                std::chrono::ceil<std::chrono::milliseconds>(then - now), std::chrono::milliseconds(20));
            pollfd w{s.fd, POLLIN, 0};
            ::poll(&w, 1, int(left.count()));
        }
    };

    // Each frame a whole gap after the one before, never sooner to catch up
    // after a delay: so no second ever holds more than the budget.
    auto next = Clock::now();
    for (int pass = 0; pass < 2; ++pass) {
        for (std::uint32_t target = network + 1; target < broadcast; ++target) {
            if (!listenUntil(next))
                return "failed the sweep was stopped";
            next = Clock::now() + kFrameGap;
            const std::uint32_t tpa = htonl(target);
            std::memcpy(question + 24, &tpa, 4);
            if (::sendto(s.fd, question, sizeof question, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) <
                    0 &&
                errno != ENOBUFS && errno != EAGAIN)
                return std::string("failed not sent: ") + std::strerror(errno);
        }
    }
    if (!listenUntil(Clock::now() + std::chrono::milliseconds(kSweepLateMs)))
        return "failed the sweep was stopped";
    return "ok swept " + std::to_string(count);
}

} // namespace helper
