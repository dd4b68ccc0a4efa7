#include "net/helper/Probes.h"

#include "net/helper/Capabilities.h"
#include "net/helper/HelperProtocol.h"
#include "net/helper/Rtnetlink.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <linux/capability.h>
#include <net/ethernet.h>
#include <net/if_arp.h>
#include <netinet/ip_icmp.h>
#include <netpacket/packet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace helper {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
constexpr milliseconds kProbeWait{500};


std::uint16_t checksum(const unsigned char* p, std::size_t n) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < n; i += 2)
        sum += std::uint32_t(p[i] << 8 | (i + 1 < n ? p[i + 1] : 0));
    while (sum >> 16)
        sum = (sum & 0xffff) + (sum >> 16);
    return std::uint16_t(~sum);
}

// Waits for packets until the probe's time is up; match() answers true to end.
template <typename Match> bool receiveUntil(int fd, Clock::time_point deadline, Match match) {
    unsigned char buffer[1500];
    while (Clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        const auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now()).count();
        if (::poll(&p, 1, int(left)) <= 0)
            continue;
        sockaddr_storage from{};
        socklen_t size = sizeof from;
        const ssize_t n =
            ::recvfrom(fd, buffer, sizeof buffer, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &size);
        if (n > 0 && match(buffer, std::size_t(n), from))
            return true;
    }
    return false;
}

std::string hex(const unsigned char* p, std::size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < n && i < 64; ++i) {
        out += digits[p[i] >> 4];
        out += digits[p[i] & 15];
    }
    return out;
}

} // namespace

// One echo request carrying "Echo This"; an unprivileged datagram ICMP socket
// where the host allows one, else a raw one.
std::string echo(std::uint32_t target, std::uint16_t sequence) {
    static const char kData[] = "Echo This";
    bool datagram = true;
    Fd s(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP));
    if (s.fd < 0) {
        Raised raw(CAP_NET_RAW);
        if (!raw.ok())
            return "failed no ICMP socket: this helper lacks CAP_NET_RAW";
        datagram = false;
        s.fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
        if (s.fd < 0)
            return std::string("failed no ICMP socket: ") + std::strerror(errno);
    }
    const std::uint16_t id = std::uint16_t(::getpid());
    unsigned char packet[8 + sizeof kData - 1] = {ICMP_ECHO,
                                                  0,
                                                  0,
                                                  0,
                                                  std::uint8_t(id >> 8),
                                                  std::uint8_t(id),
                                                  std::uint8_t(sequence >> 8),
                                                  std::uint8_t(sequence)};
    std::memcpy(packet + 8, kData, sizeof kData - 1);
    const std::uint16_t sum = checksum(packet, sizeof packet);
    packet[2] = std::uint8_t(sum >> 8);
    packet[3] = std::uint8_t(sum);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(target);
    const auto start = Clock::now();
    if (::sendto(s.fd, packet, sizeof packet, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) < 0)
        return std::string("failed not sent: ") + std::strerror(errno);
    std::string answer = "ok silent";
    // A raw socket sees every ICMP packet of the host: ours is the reply from
    // the target with our identifier and sequence, or an error quoting our request.
    receiveUntil(
        s.fd, start + kProbeWait, [&](const unsigned char* p, std::size_t n, const sockaddr_storage& f) {
            const std::uint32_t from = ntohl(reinterpret_cast<const sockaddr_in&>(f).sin_addr.s_addr);
            if (!datagram) {
                const std::size_t ihl = std::size_t(p[0] & 15) * 4;
                if (ihl < 20 || n < ihl + 8)
                    return false;
                p += ihl;
                n -= ihl;
            }
            if (n < 8)
                return false;
            const bool ours = (datagram || (p[4] << 8 | p[5]) == id) && (p[6] << 8 | p[7]) == sequence;
            if (p[0] == ICMP_ECHOREPLY && ours && from == target) {
                const auto ms = std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
                answer = "ok answered " + std::to_string(ms) + " " + hex(p + 8, n - 8);
                return true;
            }
            if (p[0] == ICMP_DEST_UNREACH && !datagram && n >= 8 + 20 + 8) {
                const unsigned char* inner = p + 8;
                const std::size_t ihl = std::size_t(inner[0] & 15) * 4;
                std::uint32_t dst = 0;
                std::memcpy(&dst, inner + 16, 4);
                const unsigned char* e = inner + ihl;
                if (ihl >= 20 && n >= 8 + ihl + 8 && ntohl(dst) == target && e[0] == ICMP_ECHO &&
                    (e[4] << 8 | e[5]) == id && (e[6] << 8 | e[7]) == sequence) {
                    answer = "ok unreachable " + addressText(from);
                    return true;
                }
            }
            return false;
        });
    return answer;
}

std::string arpProbe(int interface, std::uint32_t target) {
    Raised raw(CAP_NET_RAW);
    if (!raw.ok())
        return "failed no packet socket: this helper lacks CAP_NET_RAW";
    Fd s(::socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, htons(ETH_P_ARP)));
    if (s.fd < 0)
        return std::string("failed no packet socket: ") + std::strerror(errno);
    sockaddr_ll at{};
    at.sll_family = AF_PACKET;
    at.sll_protocol = htons(ETH_P_ARP);
    at.sll_ifindex = interface;
    socklen_t size = sizeof at;
    if (::bind(s.fd, reinterpret_cast<sockaddr*>(&at), sizeof at) < 0 ||
        ::getsockname(s.fd, reinterpret_cast<sockaddr*>(&at), &size) < 0)
        return std::string("failed packet socket: ") + std::strerror(errno);
    if (at.sll_hatype != ARPHRD_ETHER || at.sll_halen != 6)
        return "refused the interface to it does not use ARP";
    unsigned char q[28] = {0, 1, 8, 0, 6, 4, 0, ARPOP_REQUEST};
    std::memcpy(q + 8, at.sll_addr, 6);
    const std::uint32_t tpa = htonl(target);
    std::memcpy(q + 24, &tpa, 4);
    sockaddr_ll to = at;
    std::memset(to.sll_addr, 0xff, 6);
    if (::sendto(s.fd, q, sizeof q, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) < 0)
        return std::string("failed not sent: ") + std::strerror(errno);
    Mac owner{};
    const bool answered = receiveUntil(s.fd, Clock::now() + kProbeWait,
                                       [&](const unsigned char* p, std::size_t n, const sockaddr_storage&) {
                                           std::uint32_t spa = 0;
                                           if (n < 28 || p[0] != 0 || p[1] != 1 || p[2] != 8 || p[3] != 0)
                                               return false;
                                           std::memcpy(&spa, p + 14, 4);
                                           if (spa != tpa || std::memcmp(p + 8, at.sll_addr, 6) == 0)
                                               return false;
                                           std::memcpy(owner.data(), p + 8, 6);
                                           return true;
                                       });
    return answered ? "ok answered " + macText(owner) : "ok silent";
}

} // namespace helper
