#include "net/IcmpEchoProbe.h"

#include "net/NetLog.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0)
            ::close(fd);
    }
};

quint16 checksum(const unsigned char* data, size_t size) {
    quint32 sum = 0;
    for (size_t i = 0; i + 1 < size; i += 2)
        sum += static_cast<quint32>(data[i] << 8 | data[i + 1]);
    if (size % 2)
        sum += static_cast<quint32>(data[size - 1] << 8);
    while (sum >> 16)
        sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<quint16>(~sum);
}

// The raw socket sees every ICMP packet of the host: ours is the echo reply
// from the target with our identifier and sequence.
enum class Match { Ours, OursUnreachable, Other };

Match classify(const unsigned char* p, size_t n, bool datagram, quint32 target, quint16 id, quint16 seq,
               quint32 from) {
    if (!datagram) {
        if (n < 20)
            return Match::Other;
        const size_t ihl = static_cast<size_t>(p[0] & 0x0f) * 4;
        if (ihl < 20 || n < ihl + 8)
            return Match::Other;
        p += ihl;
        n -= ihl;
    }
    const quint8 type = p[0];
    const quint16 replyId = static_cast<quint16>(p[4] << 8 | p[5]);
    const quint16 replySeq = static_cast<quint16>(p[6] << 8 | p[7]);
    if (type == ICMP_ECHOREPLY) {
        // A datagram ICMP socket rewrites the identifier itself and only hands
        // us replies to our own requests.
        const bool idMatches = datagram || replyId == id;
        return (from == target && idMatches && replySeq == seq) ? Match::Ours : Match::Other;
    }
    if (type == ICMP_DEST_UNREACH && !datagram && n >= 8 + 20 + 8) {
        // The returned header of our request: its destination and echo fields.
        const unsigned char* inner = p + 8;
        const size_t innerIhl = static_cast<size_t>(inner[0] & 0x0f) * 4;
        if (innerIhl < 20 || n < 8 + innerIhl + 8)
            return Match::Other;
        quint32 dst = 0;
        std::memcpy(&dst, inner + 16, 4);
        const unsigned char* echo = inner + innerIhl;
        const quint16 innerId = static_cast<quint16>(echo[4] << 8 | echo[5]);
        const quint16 innerSeq = static_cast<quint16>(echo[6] << 8 | echo[7]);
        if (ntohl(dst) == target && echo[0] == ICMP_ECHO && innerId == id && innerSeq == seq)
            return Match::OursUnreachable;
    }
    return Match::Other;
}

} // namespace

std::optional<quint32> IcmpEchoProbe::convert(const QString& address) {
    const QByteArray text = address.toLatin1();
    if (text.contains('\0'))
        return std::nullopt;
    const in_addr_t a = ::inet_addr(text.constData());
    if (a == INADDR_NONE)
        return std::nullopt;
    return ntohl(a);
}

int IcmpEchoProbe::openSocket(bool& datagram, int& error) {
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd >= 0) {
        datagram = true;
        return fd;
    }
    fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    datagram = false;
    error = fd < 0 ? errno : 0;
    return fd;
}

bool IcmpEchoProbe::SocketsInitialize() {
    bool datagram = false;
    int error = 0;
    Fd s{openSocket(datagram, error)};
    if (s.fd >= 0)
        return true;
    // Said every time: the user sees the failure box on every probe tick too.
    qCWarning(lcNet).noquote()
        << QStringLiteral(
               "cannot open an ICMP socket: %1. Echo probes need either the capability CAP_NET_RAW "
               "(setcap cap_net_raw+ep %2) or a group in net.ipv4.ping_group_range.")
               .arg(QString::fromLocal8Bit(std::strerror(error)), QCoreApplication::applicationFilePath());
    return false;
}

Long IcmpEchoProbe::Ping(const QString& address, const QString& data, EchoReply& reply) {
    reply = EchoReply{};
    const auto target = convert(address);
    if (!target) {
        reply.status = NotConverted;
        return NotConverted;
    }

    bool datagram = false;
    int error = 0;
    Fd s{openSocket(datagram, error)};
    if (s.fd < 0) {
        // Never an answer: a probe that cannot be made says nothing about the address.
        qCWarning(lcNet) << "echo probe not sent: cannot open an ICMP socket:" << std::strerror(error);
        reply.status = SendFailed;
        return SendFailed;
    }

    const QByteArray payload = data.toLatin1();
    const quint16 id = static_cast<quint16>(::getpid() & 0xffff);
    const quint16 seq = ++m_sequence;
    QByteArray packet(8, '\0');
    packet[0] = static_cast<char>(ICMP_ECHO);
    packet[4] = static_cast<char>(id >> 8);
    packet[5] = static_cast<char>(id & 0xff);
    packet[6] = static_cast<char>(seq >> 8);
    packet[7] = static_cast<char>(seq & 0xff);
    packet += payload;
    const quint16 sum = checksum(reinterpret_cast<const unsigned char*>(packet.constData()), packet.size());
    packet[2] = static_cast<char>(sum >> 8);
    packet[3] = static_cast<char>(sum & 0xff);

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(*target);
    QElapsedTimer clock;
    clock.start();
    if (::sendto(s.fd, packet.constData(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) <
        0) {
        qCInfo(lcNet) << "echo request to" << address << "not sent:" << std::strerror(errno);
        reply.status = SendFailed;
        return SendFailed;
    }

    unsigned char buffer[1500];
    for (;;) {
        const qint64 left = kTimeoutMs - clock.elapsed();
        if (left <= 0)
            break;
        pollfd p{s.fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        sockaddr_in from{};
        socklen_t fromSize = sizeof from;
        const ssize_t n =
            ::recvfrom(s.fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromSize);
        if (n <= 0)
            continue;
        const Match m =
            classify(buffer, static_cast<size_t>(n), datagram, *target, id, seq, ntohl(from.sin_addr.s_addr));
        if (m == Match::Ours) {
            reply.address = *target;
            reply.status = Answered;
            reply.roundTripMs = static_cast<Long>(clock.elapsed());
            const size_t header = datagram ? 8 : static_cast<size_t>(buffer[0] & 0x0f) * 4 + 8;
            reply.data = QByteArray(reinterpret_cast<const char*>(buffer) + header,
                                    static_cast<qsizetype>(n - header));
            return Answered;
        }
        if (m == Match::OursUnreachable) {
            reply.address = ntohl(from.sin_addr.s_addr);
            reply.status = Unreachable;
            return Unreachable;
        }
    }
    reply.status = TimedOut;
    return TimedOut;
}
