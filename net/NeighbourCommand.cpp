#include "net/NeighbourCommand.h"

#include "net/NetLog.h"
#include "setup/RunTimeError.h"

#include <QFile>
#include <QStringList>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using ArpRequest = NeighbourCommand::ArpRequest;

// The kernel answers on its own socket within microseconds; a second bounds a
// lost answer without the window noticing the wait.
constexpr std::chrono::milliseconds kAnswerTime{1000};

[[nodiscard]] bool isAsciiDigit(QChar c) {
    return c.unicode() >= u'0' && c.unicode() <= u'9';
}

[[nodiscard]] int hexValue(QChar c) {
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

// Dotted decimal only: no hexadecimal, octal or shortened forms, so that the
// entry is made for the very address the adaptor is given ("010" is ten).
[[nodiscard]] std::optional<quint32> parseAddress(const QString& text) {
    const QStringList octets = text.split(QLatin1Char('.'), Qt::KeepEmptyParts);
    if (octets.size() != 4)
        return std::nullopt;
    quint32 address = 0;
    for (const QString& octet : octets) {
        if (octet.isEmpty() || octet.size() > 3)
            return std::nullopt;
        quint32 value = 0;
        for (QChar c : octet) {
            if (!isAsciiDigit(c))
                return std::nullopt;
            value = value * 10 + (c.unicode() - u'0');
        }
        if (value > 255)
            return std::nullopt;
        address = (address << 8) | value;
    }
    return address;
}

[[nodiscard]] std::optional<std::array<quint8, 6>> parseMac(const QString& text) {
    if (text.size() != 17)
        return std::nullopt;
    const QChar separator = text.at(2);
    if (separator != QLatin1Char('-') && separator != QLatin1Char(':'))
        return std::nullopt;
    std::array<quint8, 6> mac{};
    for (int pair = 0; pair < 6; ++pair) {
        const int at = pair * 3;
        const int high = hexValue(text.at(at));
        const int low = hexValue(text.at(at + 1));
        if (high < 0 || low < 0 || (pair < 5 && text.at(at + 2) != separator))
            return std::nullopt;
        mac[pair] = quint8(high << 4 | low);
    }
    return mac;
}

[[nodiscard]] QString addressText(quint32 address) {
    return QStringLiteral("%1.%2.%3.%4")
        .arg(address >> 24)
        .arg((address >> 16) & 0xff)
        .arg((address >> 8) & 0xff)
        .arg(address & 0xff);
}

[[nodiscard]] QString macText(const std::array<quint8, 6>& mac) {
    return QByteArray(reinterpret_cast<const char*>(mac.data()), int(mac.size())).toHex(':');
}

[[nodiscard]] QString interfaceName(int index) {
    char name[IF_NAMESIZE] = {};
    if (::if_indextoname(unsigned(index), name))
        return QString::fromLocal8Bit(name);
    return QStringLiteral("interface %1").arg(index);
}

// One rtnetlink request: the message header, the family header, attributes.
class Request {
public:
    template <typename FamilyHeader> Request(quint16 type, quint16 flags, const FamilyHeader& header) {
        nlmsghdr h{};
        h.nlmsg_type = type;
        h.nlmsg_flags = flags;
        append(&h, sizeof h);
        append(&header, sizeof header);
    }
    void attribute(quint16 type, const void* data, size_t size) {
        rtattr a{};
        a.rta_type = type;
        a.rta_len = quint16(RTA_LENGTH(size));
        append(&a, sizeof a);
        append(data, size);
    }
    // The finished message, numbered so that the kernel's answer can be told apart.
    [[nodiscard]] const std::vector<char>& bytes(quint32 sequence) {
        nlmsghdr h{};
        std::memcpy(&h, m_bytes.data(), sizeof h);
        h.nlmsg_len = quint32(m_bytes.size());
        h.nlmsg_seq = sequence;
        std::memcpy(m_bytes.data(), &h, sizeof h);
        return m_bytes;
    }

private:
    void append(const void* data, size_t size) {
        const auto* p = static_cast<const char*>(data);
        m_bytes.insert(m_bytes.end(), p, p + size);
        m_bytes.resize(NLMSG_ALIGN(m_bytes.size()));
    }
    std::vector<char> m_bytes;
};

// The kernel's answer to one request: an errno (0 for success), the reason the
// kernel gave in words when it gave one, and the reply message, if any.
struct Answer {
    int error = 0;
    QString reason;
    std::vector<char> message;
};

// A route netlink socket, closed with its owner.
class RouteSocket {
public:
    RouteSocket()
        : m_fd(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE))
        , m_openError(m_fd < 0 ? errno : 0) {
        if (m_fd < 0)
            return;
        // The kernel's own words for a refusal, without an echo of the request.
        const int on = 1;
        ::setsockopt(m_fd, SOL_NETLINK, NETLINK_EXT_ACK, &on, sizeof on);
        ::setsockopt(m_fd, SOL_NETLINK, NETLINK_CAP_ACK, &on, sizeof on);
    }
    ~RouteSocket() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    RouteSocket(const RouteSocket&) = delete;
    RouteSocket& operator=(const RouteSocket&) = delete;

    [[nodiscard]] int openError() const { return m_openError; }

    // Sends the request and waits, at most kAnswerTime, for the kernel's answer to it.
    [[nodiscard]] Answer exchange(Request& request) {
        const quint32 sequence = ++m_sequence;
        const std::vector<char>& out = request.bytes(sequence);
        sockaddr_nl kernel{};
        kernel.nl_family = AF_NETLINK;
        if (::sendto(m_fd, out.data(), out.size(), 0, reinterpret_cast<const sockaddr*>(&kernel),
                     sizeof kernel) < 0)
            return {errno, {}, {}};

        using Clock = std::chrono::steady_clock;
        const Clock::time_point deadline = Clock::now() + kAnswerTime;
        std::vector<char> buffer(16384);
        for (;;) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0)
                return {ETIMEDOUT, {}, {}};
            pollfd p{m_fd, POLLIN, 0};
            const int ready = ::poll(&p, 1, int(left.count()));
            if (ready < 0 && errno != EINTR)
                return {errno, {}, {}};
            if (ready <= 0)
                continue;
            sockaddr_nl from{};
            socklen_t fromSize = sizeof from;
            const ssize_t n = ::recvfrom(m_fd, buffer.data(), buffer.size(), MSG_DONTWAIT | MSG_TRUNC,
                                         reinterpret_cast<sockaddr*>(&from), &fromSize);
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            if (n < 0)
                return {errno, {}, {}};
            if (size_t(n) > buffer.size())
                return {EMSGSIZE, {}, {}};
            if (from.nl_pid != 0)
                continue; // only the kernel speaks for the neighbour table
            if (auto answer = find(buffer.data(), size_t(n), sequence))
                return *answer;
        }
    }

private:
    // The answer to our request among the messages of one datagram.
    static std::optional<Answer> find(const char* data, size_t size, quint32 sequence) {
        size_t at = 0;
        while (at + sizeof(nlmsghdr) <= size) {
            nlmsghdr h{};
            std::memcpy(&h, data + at, sizeof h);
            if (h.nlmsg_len < sizeof h || at + h.nlmsg_len > size)
                return Answer{EPROTO, {}, {}};
            if (h.nlmsg_seq == sequence) {
                if (h.nlmsg_type != NLMSG_ERROR)
                    return Answer{0, {}, std::vector<char>(data + at, data + at + h.nlmsg_len)};
                if (h.nlmsg_len < NLMSG_LENGTH(sizeof(nlmsgerr)))
                    return Answer{EPROTO, {}, {}};
                nlmsgerr e{};
                std::memcpy(&e, data + at + NLMSG_HDRLEN, sizeof e);
                Answer answer{-e.error, {}, {}};
                if (h.nlmsg_flags & NLM_F_ACK_TLVS)
                    answer.reason = extendedReason(data + at, h.nlmsg_len);
                return answer;
            }
            at += NLMSG_ALIGN(h.nlmsg_len);
        }
        return std::nullopt;
    }

    // NLMSGERR_ATTR_MSG after the error (the request is not echoed, see NETLINK_CAP_ACK).
    static QString extendedReason(const char* message, size_t size) {
        size_t at = NLMSG_HDRLEN + NLMSG_ALIGN(sizeof(nlmsgerr));
        while (at + sizeof(nlattr) <= size) {
            nlattr a{};
            std::memcpy(&a, message + at, sizeof a);
            if (a.nla_len < sizeof a || at + a.nla_len > size)
                break;
            if ((a.nla_type & NLA_TYPE_MASK) == NLMSGERR_ATTR_MSG)
                return QString::fromUtf8(
                    message + at + NLA_HDRLEN,
                    qsizetype(qstrnlen(message + at + NLA_HDRLEN, a.nla_len - NLA_HDRLEN)));
            at += NLA_ALIGN(a.nla_len);
        }
        return {};
    }

    int m_fd = -1;
    int m_openError = 0;
    quint32 m_sequence = 0;
};

// How the host reaches an address: the outgoing interface, the kind of route
// and whether it goes through a gateway.
struct Route {
    int error = 0;
    QString reason;
    int interface = 0;
    quint8 type = 0;
    bool viaGateway = false;
};

[[nodiscard]] Route lookUpRoute(RouteSocket& socket, quint32 address) {
    rtmsg query{};
    query.rtm_family = AF_INET;
    query.rtm_dst_len = 32;
    Request request(RTM_GETROUTE, NLM_F_REQUEST, query);
    const quint32 destination = htonl(address);
    request.attribute(RTA_DST, &destination, sizeof destination);
    const Answer answer = socket.exchange(request);
    if (answer.error != 0)
        return {answer.error, answer.reason};

    const std::vector<char>& m = answer.message;
    nlmsghdr h{};
    std::memcpy(&h, m.data(), sizeof h);
    if (h.nlmsg_type != RTM_NEWROUTE || h.nlmsg_len < NLMSG_LENGTH(sizeof(rtmsg)))
        return {EPROTO, {}};
    rtmsg reply{};
    std::memcpy(&reply, m.data() + NLMSG_HDRLEN, sizeof reply);
    Route route;
    route.type = reply.rtm_type;
    size_t at = NLMSG_HDRLEN + NLMSG_ALIGN(sizeof(rtmsg));
    while (at + sizeof(rtattr) <= m.size()) {
        rtattr a{};
        std::memcpy(&a, m.data() + at, sizeof a);
        if (a.rta_len < sizeof a || at + a.rta_len > m.size())
            return {EPROTO, {}};
        if (a.rta_type == RTA_OIF && a.rta_len >= RTA_LENGTH(sizeof(int)))
            std::memcpy(&route.interface, m.data() + at + RTA_LENGTH(0), sizeof(int));
        else if (a.rta_type == RTA_GATEWAY || a.rta_type == RTA_VIA)
            route.viaGateway = true;
        at += RTA_ALIGN(a.rta_len);
    }
    return route;
}

[[nodiscard]] QString programPath() {
    const QString path = QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
    return path.isEmpty() ? QStringLiteral("<path of the program>") : path;
}

// Why an operation failed, in words the technician can act on.
[[nodiscard]] QString failure(int error, const QString& reason) {
    if (error == EPERM || error == EACCES)
        return QStringLiteral(
                   "changing the neighbour table needs the CAP_NET_ADMIN capability, which this program "
                   "lacks. Run it as root, or grant the capability once with: setcap cap_net_admin+ep %1")
            .arg(programPath());
    if (error == ETIMEDOUT)
        return QStringLiteral("the kernel did not answer within %1 ms").arg(kAnswerTime.count());
    QString text = qt_error_string(error);
    if (!reason.isEmpty())
        text += QStringLiteral(" (%1)").arg(reason);
    return text;
}

void warn(const QString& action, const QString& why) {
    qCWarning(lcNet).noquote() << action << QStringLiteral("failed:") << why;
}

void carryOut(const ArpRequest& r) {
    const QString target = addressText(r.address);
    const QString action =
        r.kind == ArpRequest::Set
            ? QStringLiteral("Adding the static neighbour entry %1 -> %2").arg(target, macText(r.mac))
            : QStringLiteral("Removing the neighbour entry for %1").arg(target);
    RouteSocket socket;
    if (socket.openError() != 0)
        return warn(action, QStringLiteral("no route netlink socket: ") + failure(socket.openError(), {}));

    const Route route = lookUpRoute(socket, r.address);
    if (route.error == ENETUNREACH || route.error == EHOSTUNREACH)
        return warn(action, QStringLiteral("this host has no route to %1").arg(target));
    // Looking up a route needs no privilege: a refusal here is a "prohibit" route.
    if (route.error == EACCES || route.error == EPERM)
        return warn(action, QStringLiteral("the host's routing prohibits %1").arg(target));
    if (route.error == EINVAL)
        return warn(action, QStringLiteral("the host's routing discards traffic to %1").arg(target));
    if (route.error != 0)
        return warn(action, QStringLiteral("route lookup: ") + failure(route.error, route.reason));
    if (route.type == RTN_LOCAL)
        return warn(action, QStringLiteral("%1 is an address of this host itself").arg(target));
    if (route.type != RTN_UNICAST || route.interface <= 0)
        return warn(action,
                    QStringLiteral("%1 is not a unicast address reached through an interface (route type %2)")
                        .arg(target)
                        .arg(route.type));
    // The adaptor answers ARP only on its own segment: an entry for an address
    // reached through a gateway is accepted by the kernel but never used.
    if (r.kind == ArpRequest::Set && route.viaGateway)
        return warn(action, QStringLiteral(
                                "%1 is reached through a gateway, not directly on %2; the adaptor must be on "
                                "the same segment as this host")
                                .arg(target, interfaceName(route.interface)));

    ndmsg neighbour{};
    neighbour.ndm_family = AF_INET;
    neighbour.ndm_ifindex = route.interface;
    const quint32 destination = htonl(r.address);
    const bool set = r.kind == ArpRequest::Set;
    if (set)
        neighbour.ndm_state = NUD_PERMANENT;
    // NLM_F_REPLACE overrides the MAC and state of an entry already there, in place.
    Request request(set ? RTM_NEWNEIGH : RTM_DELNEIGH,
                    set ? NLM_F_REQUEST | NLM_F_ACK | NLM_F_CREATE | NLM_F_REPLACE
                        : NLM_F_REQUEST | NLM_F_ACK,
                    neighbour);
    request.attribute(NDA_DST, &destination, sizeof destination);
    if (set)
        request.attribute(NDA_LLADDR, r.mac.data(), r.mac.size());
    const Answer answer = socket.exchange(request);
    const QString where = interfaceName(route.interface);
    if (!set && answer.error == ENOENT) {
        qCDebug(lcNet) << "No neighbour entry for" << target << "on" << where << "to remove";
        return;
    }
    if (answer.error != 0)
        return warn(action + QStringLiteral(" on ") + where, failure(answer.error, answer.reason));
    qCInfo(lcNet).noquote() << action << QStringLiteral("on") << where << QStringLiteral("done");
}

} // namespace

std::optional<NeighbourCommand::ArpRequest> NeighbourCommand::parse(const QString& commandLine,
                                                                    QString* why) {
    const auto refuse = [why](const char* reason) -> std::optional<ArpRequest> {
        if (why)
            *why = QString::fromLatin1(reason);
        return std::nullopt;
    };
    const QStringList fields = commandLine.split(QLatin1Char(' '), Qt::KeepEmptyParts);
    if (fields.size() < 3 || fields.at(0) != QLatin1String("arp"))
        return refuse("not an arp command line");
    ArpRequest request;
    if (fields.at(1) == QLatin1String("-s")) {
        request.kind = ArpRequest::Set;
        if (fields.size() != 4)
            return refuse("expected exactly \"arp -s <address> <MAC>\"");
    } else if (fields.at(1) == QLatin1String("-d")) {
        request.kind = ArpRequest::Delete;
        if (fields.size() != 3)
            return refuse("expected exactly \"arp -d <address>\"");
    } else {
        return refuse("only -s and -d are carried out");
    }
    const auto address = parseAddress(fields.at(2));
    if (!address)
        return refuse("the address is not four decimal octets 0-255");
    request.address = *address;
    if (request.kind == ArpRequest::Set) {
        const auto mac = parseMac(fields.at(3));
        if (!mac)
            return refuse("the MAC is not six hexadecimal pairs joined by - or :");
        request.mac = *mac;
    }
    return request;
}

void NeighbourCommand::launch(const QString& commandLine, int windowStyle) {
    Q_UNUSED(windowStyle) // the neighbour table is changed directly: there is no window to show
    QString why;
    const auto request = parse(commandLine, &why);
    if (!request) {
        qCWarning(lcNet).nospace() << "Host command " << commandLine << " refused: " << qPrintable(why);
        throw RunTimeError(RunTimeError::CommandNotStarted);
    }
    carryOut(*request);
}
