// netrika-net-helper: the only part of Netrika that holds network capabilities.
//
// A front end starts it with no arguments and no environment and speaks to it
// over standard input and output (HelperProtocol.h). Every request is checked
// before any packet or kernel request; a refusal is answered and written to
// standard error. When the front end goes away, the neighbour entries made
// here are removed and the helper exits. It runs no other program and keeps a
// capability in force only while a request needs it.

#include "net/helper/HelperProtocol.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <linux/capability.h>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/ip_icmp.h>
#include <netpacket/packet.h>
#include <poll.h>
#include <string>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <utility>
#include <vector>

using namespace helper;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

constexpr milliseconds kProbeWait{500};
constexpr milliseconds kKernelWait{1000};
// Probes (echo, ARP, and the ARP check before a binding) a second, per helper.
constexpr double kProbesPerSecond = 4;

struct Fd {
    int fd = -1;
    explicit Fd(int f)
        : fd(f) {}
    ~Fd() {
        if (fd >= 0)
            ::close(fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
};

// --- capabilities -----------------------------------------------------------

struct Caps {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
    bool get() { return ::syscall(SYS_capget, &header, data) == 0; }
    bool set() { return ::syscall(SYS_capset, &header, data) == 0; }
};

[[nodiscard]] bool permitted(int cap) {
    Caps c;
    return c.get() && (c.data[CAP_TO_INDEX(cap)].permitted & CAP_TO_MASK(cap));
}

// Keeps CAP_NET_RAW and CAP_NET_ADMIN as permitted, where given, and nothing
// in force; everything else, ambient and inheritable included, goes.
void dropAllButNetwork() {
    ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
    ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
    Caps c;
    if (!c.get())
        return;
    Caps kept;
    kept.data[0].permitted = c.data[0].permitted & (CAP_TO_MASK(CAP_NET_RAW) | CAP_TO_MASK(CAP_NET_ADMIN));
    static_assert(CAP_TO_INDEX(CAP_NET_RAW) == 0 && CAP_TO_INDEX(CAP_NET_ADMIN) == 0);
    kept.set();
}

// One capability in force for the life of this object.
class Raised {
public:
    explicit Raised(int cap)
        : m_cap(cap) {
        m_ok = change(true);
    }
    ~Raised() {
        if (m_ok)
            change(false);
    }
    [[nodiscard]] bool ok() const { return m_ok; }

private:
    bool change(bool on) {
        Caps c;
        if (!c.get() || !(c.data[CAP_TO_INDEX(m_cap)].permitted & CAP_TO_MASK(m_cap)))
            return false;
        if (on)
            c.data[CAP_TO_INDEX(m_cap)].effective |= CAP_TO_MASK(m_cap);
        else
            c.data[CAP_TO_INDEX(m_cap)].effective &= ~CAP_TO_MASK(m_cap);
        return c.set();
    }
    int m_cap;
    bool m_ok = false;
};

// --- rtnetlink ----------------------------------------------------------------

class Netlink {
public:
    Netlink()
        : m_fd(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE)) {}
    [[nodiscard]] bool open() const { return m_fd.fd >= 0; }

    // Sends one request (header, family header, attributes) and answers the
    // kernel's errno, 0 with its reply message in reply where there is one.
    int exchange(std::uint16_t type, std::uint16_t flags, const void* family, std::size_t familySize,
                 std::uint32_t address, const Mac* mac, std::vector<char>* reply) {
        std::vector<char> m(NLMSG_SPACE(familySize));
        std::memcpy(m.data() + NLMSG_HDRLEN, family, familySize);
        const auto attribute = [&m](std::uint16_t t, const void* p, std::size_t n) {
            const std::size_t at = m.size();
            m.resize(at + RTA_SPACE(n));
            rtattr a{std::uint16_t(RTA_LENGTH(n)), t};
            std::memcpy(m.data() + at, &a, sizeof a);
            std::memcpy(m.data() + at + RTA_LENGTH(0), p, n);
        };
        const std::uint32_t dst = htonl(address);
        attribute(type == RTM_GETROUTE ? std::uint16_t(RTA_DST) : std::uint16_t(NDA_DST), &dst, sizeof dst);
        if (mac)
            attribute(NDA_LLADDR, mac->data(), mac->size());
        nlmsghdr h{std::uint32_t(m.size()), type, flags, ++m_sequence, 0};
        std::memcpy(m.data(), &h, sizeof h);
        sockaddr_nl kernel{};
        kernel.nl_family = AF_NETLINK;
        if (::sendto(m_fd.fd, m.data(), m.size(), 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) < 0)
            return errno;
        const auto deadline = Clock::now() + kKernelWait;
        std::vector<char> buffer(16384);
        while (Clock::now() < deadline) {
            pollfd p{m_fd.fd, POLLIN, 0};
            const auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now()).count();
            if (::poll(&p, 1, int(left)) <= 0)
                continue;
            sockaddr_nl from{};
            socklen_t size = sizeof from;
            const ssize_t n = ::recvfrom(m_fd.fd, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                         reinterpret_cast<sockaddr*>(&from), &size);
            if (n <= 0 || from.nl_pid != 0)
                continue;
            for (std::size_t at = 0; at + sizeof(nlmsghdr) <= std::size_t(n);) {
                nlmsghdr r{};
                std::memcpy(&r, buffer.data() + at, sizeof r);
                if (r.nlmsg_len < sizeof r || at + r.nlmsg_len > std::size_t(n))
                    return EPROTO;
                if (r.nlmsg_seq == m_sequence) {
                    if (r.nlmsg_type != NLMSG_ERROR) {
                        if (reply)
                            reply->assign(buffer.data() + at, buffer.data() + at + r.nlmsg_len);
                        return 0;
                    }
                    if (r.nlmsg_len < NLMSG_LENGTH(sizeof(nlmsgerr)))
                        return EPROTO;
                    nlmsgerr e{};
                    std::memcpy(&e, buffer.data() + at + NLMSG_HDRLEN, sizeof e);
                    return -e.error;
                }
                at += NLMSG_ALIGN(r.nlmsg_len);
            }
        }
        return ETIMEDOUT;
    }

private:
    Fd m_fd;
    std::uint32_t m_sequence = 0;
};

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

// The interface through which the host reaches an address directly, without a
// gateway; 0 with why set otherwise.
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
    else
        return interface;
    return 0;
}

struct Neighbour {
    bool present = false;
    std::uint16_t state = 0;
    Mac mac{};
};

Neighbour neighbour(Netlink& nl, int interface, std::uint32_t address) {
    ndmsg query{};
    query.ndm_family = AF_INET;
    query.ndm_ifindex = interface;
    std::vector<char> m;
    Neighbour n;
    if (nl.exchange(RTM_GETNEIGH, NLM_F_REQUEST, &query, sizeof query, address, nullptr, &m) != 0 ||
        m.size() < NLMSG_LENGTH(sizeof(ndmsg)))
        return n;
    ndmsg reply{};
    std::memcpy(&reply, m.data() + NLMSG_HDRLEN, sizeof reply);
    n.present = true;
    n.state = reply.ndm_state;
    attributes(m, sizeof(ndmsg), [&](unsigned type, const char* p, std::size_t size) {
        if (type == NDA_LLADDR && size == n.mac.size())
            std::memcpy(n.mac.data(), p, size);
    });
    return n;
}

// --- probes -----------------------------------------------------------------

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

// Asks the link who has the address, with sender address 0.0.0.0 so that no
// neighbour's table learns anything from the question.
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

// --- the helper -------------------------------------------------------------

struct Made {
    std::uint32_t address;
    int interface;
    Mac mac;
};

class Helper {
public:
    std::string handle(const Request& r) {
        if (const auto why = refusedAddress(r.address); !why.empty())
            return refuse(r, why);
        if (r.kind == Request::NeighDel)
            return remove(r);
        if (r.kind == Request::NeighAdd)
            if (const auto why = refusedMac(r.mac); !why.empty())
                return refuse(r, why);
        Netlink nl;
        if (!nl.open())
            return std::string("failed no route netlink socket: ") + std::strerror(errno);
        std::string why;
        const int interface = directInterface(nl, r.address, why);
        if (interface == 0)
            return refuse(r, why);
        if (r.kind != Request::NeighAdd && !takeProbe())
            return refuse(r, "too many probes: at most 4 a second");
        if (r.kind == Request::Echo)
            return echo(r.address, ++m_sequence);
        if (r.kind == Request::ArpProbe)
            return arpProbe(interface, r.address);
        return add(nl, interface, r);
    }

    std::string refuse(const Request& r, std::string_view why) {
        const std::string text = "refused " + addressText(r.address) + " is " + std::string(why);
        log(formatRequest(r), text);
        return text;
    }

    static void log(const std::string& request, const std::string& answer) {
        const std::string line = "netrika-net-helper: " + request + ": " + answer + "\n";
        (void)!::write(2, line.data(), line.size());
    }

    // What this process bound and has not removed, removed as it ends.
    void removeAll() {
        while (!m_made.empty())
            remove(Request{Request::NeighDel, m_made.back().address, {}});
    }

private:
    std::string add(Netlink& nl, int interface, const Request& r) {
        Made* mine = find(r.address);
        const Neighbour n = neighbour(nl, interface, r.address);
        if (!mine && n.present && (n.state & (NUD_REACHABLE | NUD_DELAY | NUD_PROBE)))
            return refuse(r, "in use: the host has a reachable entry for it");
        if (!mine && n.present && (n.state & (NUD_PERMANENT | NUD_NOARP)))
            return refuse(r, "bound already by an entry that this helper did not make");
        if (!takeProbe())
            return refuse(r, "too many probes: at most 4 a second");
        const std::string owner = arpProbe(interface, r.address);
        if (owner.rfind("ok answered", 0) == 0)
            return refuse(r, "in use: " + owner.substr(12) + " answers ARP for it");
        if (owner != "ok silent")
            return owner;
        Raised admin(CAP_NET_ADMIN);
        if (!admin.ok())
            return "failed changing the neighbour table needs CAP_NET_ADMIN, which this helper lacks";
        ndmsg entry{};
        entry.ndm_family = AF_INET;
        entry.ndm_ifindex = interface;
        entry.ndm_state = NUD_PERMANENT;
        const int error = nl.exchange(RTM_NEWNEIGH, NLM_F_REQUEST | NLM_F_ACK | NLM_F_CREATE | NLM_F_REPLACE,
                                      &entry, sizeof entry, r.address, &r.mac, nullptr);
        if (error != 0)
            return std::string("failed ") + std::strerror(error);
        if (mine)
            mine->mac = r.mac;
        else
            m_made.push_back({r.address, interface, r.mac});
        char name[IF_NAMESIZE] = "?";
        ::if_indextoname(unsigned(interface), name);
        return std::string("ok added ") + name;
    }

    std::string remove(const Request& r) {
        Made* mine = find(r.address);
        if (!mine)
            return refuse(r, "bound by no entry that this helper made");
        const Made made = *mine;
        m_made.erase(m_made.begin() + (mine - m_made.data()));
        Netlink nl;
        if (!nl.open())
            return std::string("failed no route netlink socket: ") + std::strerror(errno);
        // Only while it is still the entry made here, not one put there since.
        const Neighbour n = neighbour(nl, made.interface, made.address);
        if (!n.present || !(n.state & NUD_PERMANENT) || n.mac != made.mac)
            return "ok absent";
        Raised admin(CAP_NET_ADMIN);
        if (!admin.ok())
            return "failed changing the neighbour table needs CAP_NET_ADMIN, which this helper lacks";
        ndmsg entry{};
        entry.ndm_family = AF_INET;
        entry.ndm_ifindex = made.interface;
        const int error = nl.exchange(RTM_DELNEIGH, NLM_F_REQUEST | NLM_F_ACK, &entry, sizeof entry,
                                      made.address, nullptr, nullptr);
        if (error == ENOENT)
            return "ok absent";
        return error == 0 ? "ok removed" : std::string("failed ") + std::strerror(error);
    }

    Made* find(std::uint32_t address) {
        for (Made& m : m_made)
            if (m.address == address)
                return &m;
        return nullptr;
    }

    // A token bucket: a short burst, then kProbesPerSecond.
    bool takeProbe() {
        const auto now = Clock::now();
        m_tokens =
            std::min(kProbesPerSecond,
                     m_tokens + kProbesPerSecond * std::chrono::duration<double>(now - m_filled).count());
        m_filled = now;
        if (m_tokens < 1)
            return false;
        m_tokens -= 1;
        return true;
    }

    std::vector<Made> m_made;
    std::uint16_t m_sequence = 0;
    double m_tokens = kProbesPerSecond;
    Clock::time_point m_filled = Clock::now();
};

bool writeLine(const std::string& text) {
    const std::string line = text + "\n";
    for (std::size_t done = 0; done < line.size();) {
        const ssize_t n = ::write(1, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += std::size_t(n);
    }
    return true;
}

volatile std::sig_atomic_t terminated = 0;
void onTerminate(int) {
    terminated = 1;
}

// A session of its own, so that a terminal's Ctrl-C, Ctrl-\ and hang-up,
// sent to the front end's whole process group, never reach the helper: it
// removes its entries when its front end goes away, however that happens.
// SIGTERM (a session's end, a shutdown) is taken as the end of the requests.
// It is blocked but while waiting for a request, so a request under way is
// always answered first.
void ownSession(sigset_t& waiting) {
    ::setsid();
    for (int s : {SIGINT, SIGHUP, SIGQUIT, SIGPIPE})
        std::signal(s, SIG_IGN);
    struct sigaction term {};
    term.sa_handler = onTerminate;
    ::sigaction(SIGTERM, &term, nullptr);
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    ::sigprocmask(SIG_BLOCK, &blocked, &waiting);
    sigdelset(&waiting, SIGTERM);
}

} // namespace

int main(int argc, char**) {
    dropAllButNetwork();
    sigset_t waiting;
    ownSession(waiting);
    if (argc != 1) {
        Helper::log("arguments", "refused: this helper takes none; Netrika starts it itself");
        return 2;
    }
    Helper helper;
    bool canEcho = permitted(CAP_NET_RAW);
    if (!canEcho) {
        Fd probe(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP));
        canEcho = probe.fd >= 0;
    }
    std::string greeting(kGreeting);
    greeting += canEcho ? " echo" : "";
    greeting += permitted(CAP_NET_RAW) ? " arp" : "";
    greeting += permitted(CAP_NET_ADMIN) ? " neigh" : "";
    bool open = writeLine(greeting);

    std::string pending;
    bool discarding = false; // the rest of a line already refused as too long
    char buffer[512];
    while (open && !terminated) {
        pollfd input{0, POLLIN, 0};
        if (::ppoll(&input, 1, nullptr, &waiting) < 0)
            continue; // EINTR: SIGTERM, seen above
        const ssize_t n = ::read(0, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        pending.append(buffer, std::size_t(n));
        for (std::size_t end; open && (end = pending.find('\n')) != std::string::npos;) {
            const std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (std::exchange(discarding, false))
                continue;
            std::string why;
            const auto request = parseRequest(line, &why);
            std::string answer = request ? helper.handle(*request) : "refused " + why;
            if (!request)
                Helper::log("request", answer);
            open = writeLine(answer);
        }
        if (pending.size() > kMaxLine) {
            pending.clear();
            if (!std::exchange(discarding, true))
                open = writeLine("refused request too long");
        }
    }
    helper.removeAll();
    return 0;
}
